#include "engine/kt_i18n/i18n.h"

#include <cstring>

#include "engine/kt_datafile/datafile.h"

uint32_t text_hash(std::string_view text) {
    uint32_t h = 0x811C9DC5u;
    for (unsigned char b : text) {
        h ^= b;
        h *= 16777619u;
    }
    return h ^ (h >> 15);
}

void catalog_init(Catalog& c) {
    c.languages.clear();
    c.keys.clear();
    c.slots.clear();
    c.values.clear();
    c.stripped.clear();
    c.decoded.clear();
    c.current = 0;
    add_language(c, "en", "");
}

int text_find(const Catalog& c, std::string_view text, uint32_t hash) {
    if (c.slots.empty()) return -1;
    size_t mask = c.slots.size() - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
        uint32_t slot = c.slots[i];
        if (slot == 0) return -1;
        const Text_Key& k = c.keys[slot - 1];
        if (k.hash == hash && k.text == text) return int(slot - 1);
    }
}

static void slot_put(std::vector<uint32_t>& slots, uint32_t hash, uint32_t value) {
    size_t mask = slots.size() - 1;
    size_t i = hash & mask;
    while (slots[i] != 0) i = (i + 1) & mask;
    slots[i] = value;
}

int keys_intern(Catalog& c, std::string_view text, uint32_t hash) {
    size_t need = 2 * c.keys.size() + 2;
    if (need > c.slots.size()) {
        size_t size = c.slots.size() > 16 ? c.slots.size() : 16;
        while (size < need) size *= 2;
        c.slots.assign(size, 0);
        for (size_t k = 0; k < c.keys.size(); k++) slot_put(c.slots, c.keys[k].hash, uint32_t(k + 1));
    }
    c.keys.push_back({text, hash});
    slot_put(c.slots, hash, uint32_t(c.keys.size()));
    return int(c.keys.size() - 1);
}

static Text_Value& value_slot(Catalog& c, int key, int lang) {
    std::vector<Text_Value>& list = c.values[size_t(lang)];
    if (list.size() <= size_t(key)) list.resize(size_t(key) + 1);
    Text_Value& v = list[size_t(key)];
    v.copy.reset();
    v.owned = false;
    return v;
}

void text_put(Catalog& c, int key, int lang, std::string_view text) {
    Text_Value& v = value_slot(c, key, lang);
    v.text = text;
    v.present = true;
}

void text_put_copy(Catalog& c, int key, int lang, std::string_view text) {
    std::unique_ptr<char[]> copy(new char[text.size() + 1]);
    if (!text.empty()) std::memcpy(copy.get(), text.data(), text.size());
    copy[text.size()] = 0;
    Text_Value& v = value_slot(c, key, lang);
    v.text = std::string_view(copy.get(), text.size());
    v.copy = std::move(copy);
    v.owned = true;
    v.present = true;
}

const Text_Value* text_get(const Catalog& c, int key, int lang) {
    if (key < 0 || lang < 0 || size_t(lang) >= c.values.size()) return nullptr;
    const std::vector<Text_Value>& list = c.values[size_t(lang)];
    if (size_t(key) >= list.size() || !list[size_t(key)].present) return nullptr;
    return &list[size_t(key)];
}

namespace {

// A line of a translation text with each "\n" made a line break.
std::string decode_breaks(std::string_view line) {
    std::string out;
    out.reserve(line.size());
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\\' && i + 1 < line.size() && line[i + 1] == 'n') {
            out += '\n';
            ++i;
        } else {
            out += line[i];
        }
    }
    return out;
}

bool has_break(std::string_view line) { return line.find("\\n") != std::string_view::npos; }

}  // namespace

void load_lines(Catalog& c, std::string_view text) {
    std::vector<int> declared;
    std::string_view english;
    bool have_english = false;
    int key = -1;
    size_t position = 0;

    while (!text.empty()) {
        size_t lf = text.find('\n');
        std::string_view line = text.substr(0, lf);
        text.remove_prefix(lf == std::string_view::npos ? text.size() : lf + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty() || line[0] == '#') continue;

        if (line[0] == '\t') {
            if (have_english && position < declared.size()) {
                if (key < 0) {
                    uint32_t h = text_hash(english);
                    key = text_find(c, english, h);
                    if (key < 0) key = keys_intern(c, english, h);
                }
                std::string_view t = line.substr(1);
                if (has_break(t)) {
                    text_put_copy(c, key, declared[position], decode_breaks(t));
                } else {
                    text_put(c, key, declared[position], t);
                }
            }
            position++;
            continue;
        }

        std::string_view trimmed = trim_space(line);
        // A line of white space only says nothing; it must not start an
        // empty English text that would take the translations that follow.
        if (trimmed.empty()) continue;
        if (trimmed == "-") {
            position++;
            continue;
        }
        if (trimmed[0] == '@') {
            std::string_view rest = trimmed, token;
            if (next_token(rest, token) && token == "@languages") {
                declared.clear();
                while (next_token(rest, token)) declared.push_back(add_language(c, token, ""));
                have_english = false;
                english = {};
                key = -1;
                position = 0;
            }
            continue;
        }
        english = trimmed;
        if (has_break(trimmed)) {
            c.decoded.push_back(std::make_unique<std::string>(decode_breaks(trimmed)));
            english = *c.decoded.back();
        }
        have_english = true;
        key = -1;
        position = 0;
    }
}

int language_find(const Catalog& c, std::string_view code) {
    for (size_t i = 0; i < c.languages.size(); i++)
        if (c.languages[i].code == code) return int(i);
    return -1;
}

int add_language(Catalog& c, std::string_view code, std::string_view name) {
    int found = language_find(c, code);
    if (found >= 0) {
        c.languages[size_t(found)].name = std::string(name);
        return found;
    }
    c.languages.push_back({std::string(code), std::string(name), false});
    c.values.emplace_back();
    return int(c.languages.size() - 1);
}

bool select_language(Catalog& c, std::string_view code) {
    int index = language_find(c, code);
    if (index < 0) return false;
    if (index != c.current) {
        c.current = index;
        clear_stripped(c);
    }
    return true;
}

std::string_view text_shown(Catalog& c, std::string_view text) {
    if (c.current == 0 || text.empty()) return text;
    int key = text_find(c, text, text_hash(text));
    if (key < 0) return text;
    if (const Text_Value* v = text_get(c, key, c.current)) {
        if (c.languages[size_t(c.current)].ruby && v->text.find("{{") != std::string_view::npos) {
            auto it = c.stripped.find(std::string(text));
            if (it == c.stripped.end()) it = c.stripped.emplace(std::string(text), strip_ruby(v->text)).first;
            return it->second;
        }
        return v->text;
    }
    if (const Text_Value* en = text_get(c, key, 0)) return en->text;
    return text;
}

void clear_stripped(Catalog& c) { c.stripped.clear(); }

std::string strip_ruby(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        size_t open = text.find("{{", i);
        if (open == std::string_view::npos) break;
        size_t close = text.find("}}", open + 2);
        if (close == std::string_view::npos) break;
        out.append(text.substr(i, open - i));
        i = close + 2;
    }
    out.append(text.substr(i));
    return out;
}
