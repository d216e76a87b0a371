#include "launcher/mods/mod_data.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/core/format.h"
#include "launcher/core/parse_int.h"
#include "launcher/core/paths.h"
#include "launcher/core/settings.h"
#include "launcher/mods/filelist.h"
#include "launcher/mods/hard_mode.h"
#include "launcher/mods/hd_models.h"
#include "launcher/mods/sculpt.h"
#include "launcher/mods/zlib_writer.h"

namespace {

constexpr uint64_t ext_header = 16;   // "ZQREXT01" and the base size
constexpr uint64_t ext_align = 2048;

void put_le64(std::string& out, uint64_t v) {
    for (int i = 0; i < 8; i++) out.push_back(char(uint8_t(v >> (8 * i))));
}

// "0h" and up to eight hexadecimal digits: the float's bits.
bool parse_float_bits(std::string_view text, uint32_t& bits) {
    if (text.size() < 3 || text.size() > 10 || text[0] != '0' || (text[1] != 'h' && text[1] != 'H')) return false;
    uint32_t v = 0;
    for (char c : text.substr(2)) {
        int d = digit_value(c);
        if (d >= 16) return false;
        v = v << 4 | uint32_t(d);
    }
    bits = v;
    return true;
}

// A decimal or hexadecimal ("0x1.8p3") float text, all of it.
bool parse_float(std::string_view text, float& out) {
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    auto format = std::chars_format::general;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        format = std::chars_format::hex;
    }
    if (text.empty() || text[0] == '+' || text[0] == '-') return false;
    float v = 0;
    auto r = std::from_chars(text.data(), text.data() + text.size(), v, format);
    if (r.ec != std::errc() || r.ptr != text.data() + text.size()) return false;
    out = negative ? -v : v;
    return true;
}

// The offset of the first NUL-ended text of the "!!string" record equal to
// `value` ("0" also takes an empty text).
bool string_offset(std::string_view strings, std::string_view value, uint32_t& offset) {
    size_t at = 0;
    while (at < strings.size()) {
        size_t nul = strings.find('\0', at);
        if (nul == std::string_view::npos) break;
        std::string_view text = strings.substr(at, nul - at);
        if (text == value || (text.empty() && value == "0")) {
            offset = uint32_t(at);
            return true;
        }
        at = nul + 1;
    }
    return false;
}

std::string game_path(std::string_view model, std::string_view ext) {
    return fmt("chr/pc/%s/bin/%s.win32%s", model, model, ext);
}

// The replacements of the applied Body Sculpting profiles, then those of
// the applied HD Models+ rows on paths Body Sculpting left free.
std::map<std::string, std::string> gather_replacements(const Settings& s) {
    std::map<std::string, std::string> out;
    if (s.sculpt_on) {
        for (int row = 0; row < sculpt_character_count; row++) {
            std::string wanted = sculpt_state(s, row);
            if (wanted.empty() || wanted != sculpt_applied(row)) continue;
            const Sculpt_Character& c = sculpt_characters[row];
            for (std::string_view m : {c.model, c.second_model})
                for (std::string_view ext : {".trb", ".imgb"}) out[game_path(m, ext)] = sculpt_out_path(m, ext);
        }
    }
    if (s.hd_models_on) {
        for (int row = 0; row < hdm_character_count; row++) {
            std::string wanted = hdm_asks(s, row);
            if (wanted.empty() || wanted != hdm_applied(row)) continue;
            const Hdm_Variant& v = hdm_characters[row].variants[size_t(hdm_choice(s, row))];
            for (std::string_view m : v.models)
                for (std::string_view ext : {".trb", ".imgb"}) out.emplace(game_path(m, ext), hdm_out_path(m, ext));
        }
    }
    return out;
}

struct Pair_Result {
    bool ok = true;             // false ends the whole run
    std::string index_line;     // empty when nothing changed
};

// Patches one list and archive pair (steps 7 to 12 of the mod data).
Pair_Result patch_pair(std::string_view list_rel, std::string_view archive_rel, const Mod_Edits& edits,
                       const std::map<std::string, std::string>& replacements, std::string& messages) {
    Pair_Result r;
    std::string list_path = mods_data_path(list_rel);
    std::string archive_path = mods_data_path(archive_rel);
    if (!file_exists(list_path) || !file_exists(archive_path)) return r;

    auto fail = [&](std::string text) {
        messages += text;
        r.ok = false;
        return r;
    };
    std::string list_bytes;
    if (!fs_read(list_path, list_bytes)) return fail(fmt("mods: cannot read %s\n", list_path));
    Filelist list;
    if (!filelist_read(list_bytes, list)) return fail(fmt("mods: %s is not a filelist this launcher reads\n", list_path));
    Game_Archive archive;
    if (!game_archive_open(archive_path, archive)) return fail(fmt("mods: cannot open %s\n", archive_path));
    const uint64_t base = archive.size;

    std::string ext = "ZQREXT01";
    put_le64(ext, base);
    int64_t changed = 0;
    for (Filelist_Entry& entry : list.entries) {
        std::vector<std::string_view> fields;
        std::string_view rest = entry.text;
        while (fields.size() < 3) {
            size_t colon = rest.find(':');
            if (colon == std::string_view::npos) break;
            fields.push_back(rest.substr(0, colon));
            rest.remove_prefix(colon + 1);
        }
        if (fields.size() != 3) continue;
        fields.push_back(rest);
        const std::string path(rest);
        const std::string key = ascii_lower(path);

        std::string data, stored;
        auto edit = edits.find(key);
        auto replacement = replacements.find(key);
        if (edit != edits.end()) {
            if (!archive_entry(archive, fields, data))
                return fail(fmt("Hard Mode: cannot read %s from %s\n", path, archive_path));
            uint32_t count = 0;
            if (!wpd_valid(data, count)) return fail(fmt("Hard Mode: %s is not a table this launcher reads\n", path));
            Wpd_Record strings = wpd_entry(data, count, "!!string");
            for (const Mod_Edit& e : edit->second) mod_apply_edit(data, count, strings, e, messages);
            zlib_compress(stored, data);
            if (stored.size() >= data.size()) stored = data;
        } else if (replacement != replacements.end()) {
            if (!fs_read(replacement->second, data))
                return fail(fmt("Body Sculpting: cannot read %s\n", replacement->second));
            stored = mod_stored_file(replacement->second, data);
        } else {
            continue;
        }
        // The member starts on a 2048-byte boundary of the archive that the
        // extension file continues.
        uint64_t gap = (ext_align - (base + ext.size() - ext_header) % ext_align) % ext_align;
        ext.append(size_t(gap), '\0');
        uint64_t position = (base + ext.size() - ext_header) / ext_align;
        ext += stored;
        entry.text = fmt("%x:%x:%x:%s", position, uint64_t(data.size()), uint64_t(stored.size()), path);
        entry.changed = true;
        changed++;
    }
    if (changed == 0) return r;

    std::string mods = data_path({"mods"});
    std::string sys_dir = path_join({mods, path_dir(list_rel)});
    if (!fs_make_dirs(sys_dir)) return fail(fmt("mods: cannot make %s\n", sys_dir));
    std::string new_list;
    if (!filelist_write(list, new_list)) return fail(fmt("mods: %s cannot hold the changes\n", list_rel));
    std::string ext_dir = path_join({mods, path_dir(archive_rel)});
    if (!fs_make_dirs(ext_dir) || !fs_write_atomic(path_join({mods, list_rel}), new_list) ||
        !fs_write_atomic(path_join({mods, fmt("%s.zqrext", archive_rel)}), ext))
        return fail(fmt("mods: cannot write in %s\n", mods));
    r.index_line = fmt("%s %s %d\n", list_rel, archive_rel, base);
    messages += fmt("mods: %d entries changed in %s\n", changed, path_dir(archive_rel));
    return r;
}

}  // namespace

void hard_edits_parse(std::string_view text, std::string_view source, Mod_Edits& out) {
    std::string table;
    for (std::string_view line : split_at(text, '\n')) {
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        line = trim_space(line);
        if (line.empty() || line[0] == ':') continue;
        std::string lower = ascii_lower(line);
        if (lower.size() >= 4 && lower.compare(lower.size() - 4, 4, ".wdb") == 0) {
            for (char& c : lower)
                if (c == '\\') c = '/';
            table = lower;
            continue;
        }
        std::vector<std::string_view> fields = split_at(line, ',');
        int64_t word = 0;
        if (fields.size() != 4 || table.empty() || !parse_int(fields[1], word)) continue;
        out[table].push_back(Mod_Edit{std::string(trim_space(fields[0])), word, std::string(trim_space(fields[2])),
                                      std::string(trim_space(fields[3])), std::string(source)});
    }
}

uint32_t read_be32(std::string_view bytes, uint64_t offset) {
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data()) + offset;
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

void write_be32(std::string& bytes, uint64_t offset, uint32_t value) {
    for (int i = 0; i < 4; i++) bytes[size_t(offset) + size_t(i)] = char(uint8_t(value >> (24 - 8 * i)));
}

bool wpd_valid(std::string_view bytes, uint32_t& count) {
    if (bytes.size() < 16 || bytes.substr(0, 3) != "WPD") return false;
    count = read_be32(bytes, 4);
    return 16 + 32 * uint64_t(count) <= bytes.size();
}

Wpd_Record wpd_entry(std::string_view bytes, uint32_t count, std::string_view name) {
    for (uint64_t i = 0; i < count; i++) {
        uint64_t at = 16 + 32 * i;
        std::string_view raw = bytes.substr(size_t(at), 16);
        std::string_view record_name = raw.substr(0, std::min(raw.find('\0'), raw.size()));
        if (record_name == name) return Wpd_Record{read_be32(bytes, at + 16), read_be32(bytes, at + 20), true};
    }
    return {};
}

bool mod_bit_field(std::string_view type, int& shift, int& width) {
    if (type.empty()) return false;
    char mode = 0;
    int total = 0, last = 0;
    for (size_t i = 0; i < type.size(); i++) {
        char c = type[i];
        bool final = i + 1 == type.size();
        int w = -1;
        if (c == 't' || c == 'p') {
            if (final) return false;
            mode = c;
            continue;
        }
        if (c == 'b' || c == 'c') w = 8;
        else if (c == 'i' || c == 's') w = 16;
        else if (mode == 't' && c == '0') w = 1;
        else if (mode == 't' && c == '1' && final) w = 1;
        else if (mode == 'p' && c >= '1' && c <= '9') w = c - '0';
        else if (mode == 'p' && c == '0') w = 16;
        else if (mode == 'p' && c >= 'A' && c <= 'F') w = 10 + (c - 'A');
        if (w < 0) return false;
        total += w;
        last = w;
        if (total > 32) return false;
    }
    shift = 32 - total;
    width = last;
    return true;
}

void mod_apply_edit(std::string& table, uint32_t count, const Wpd_Record& strings, const Mod_Edit& e,
                    std::string& messages) {
    // The word index comes from the mod's file: it must lie inside the record,
    // and the record inside the table, all counted in 64 bits.
    Wpd_Record rec = wpd_entry(table, count, e.row);
    if (!rec.found || e.word < 0 || rec.size < 4 || uint64_t(e.word) > (rec.size - 4) / 4 ||
        rec.offset + rec.size > table.size()) {
        messages += fmt("%s: %s word %d: not in the table, skipped\n", e.source, e.row, e.word);
        return;
    }
    const uint64_t at = rec.offset + 4 * uint64_t(e.word);
    const char kind = e.type.empty() ? '\0' : e.type[0];
    if (kind == 'w') {
        int64_t v = 0;
        if (parse_int(e.value, v)) write_be32(table, at, uint32_t(v));
        return;
    }
    if (kind == 'f') {
        uint32_t bits = 0;
        float f = 0;
        if (parse_float_bits(e.value, bits)) {
            write_be32(table, at, bits);
        } else if (parse_float(e.value, f)) {
            std::memcpy(&bits, &f, 4);
            write_be32(table, at, bits);
        }
        return;
    }
    if (kind == 'l') {
        if (!strings.found || strings.offset + strings.size > table.size()) return;
        std::string_view all = std::string_view(table).substr(size_t(strings.offset), size_t(strings.size));
        uint32_t offset = 0;
        if (!string_offset(all, e.value, offset)) {
            messages += fmt("%s: %s: the string %q is not in the table, skipped\n", e.source, e.row, e.value);
            return;
        }
        write_be32(table, at, offset);
        return;
    }
    int shift = 0, width = 0;
    int64_t v = 0;
    if (!mod_bit_field(e.type, shift, width) || !parse_int(e.value, v)) {
        messages += fmt("%s: %s: type %q not understood, skipped\n", e.source, e.row, e.type);
        return;
    }
    uint32_t mask = width == 32 ? 0xFFFFFFFFu : ((uint32_t(1) << width) - 1) << shift;
    uint32_t word = read_be32(table, at);
    word = (word & ~mask) | ((uint32_t(uint64_t(v)) << shift) & mask);
    write_be32(table, at, word);
}

std::string mod_stored_file(std::string_view path, std::string_view file) {
    const std::string cache = fmt("%s.z", path);
    const uint32_t adler = adler32_of(file);
    std::string cached;
    if (fs_read(cache, cached) && cached.size() >= 7 && cached.size() < file.size() &&
        read_be32(cached, cached.size() - 4) == adler) {
        std::string check;
        if (zlib_inflate_exact(cached, file.size(), check) && check == file) return cached;
    }
    std::string stream;
    zlib_compress(stream, file);
    if (stream.size() >= file.size()) return std::string(file);
    // A cache is only ever complete under its own name.
    const std::string part = cache + ".part";
    if (!fs_write(part, stream) || !fs_rename(part, cache)) fs_remove_file(part);
    return stream;
}

bool mods_make(std::string& messages) {
    const std::string mods = data_path({"mods"});
    const std::string index_path = path_join({mods, "zqr_mods.txt"});
    fs_remove_file(index_path);
    if (file_exists(index_path)) {
        messages += fmt("mods: cannot delete %s\n", index_path);
        return false;
    }
    const Settings s = settings_copy();
    if (s.game_dir.empty()) return false;

    Mod_Edits edits;
    bool any_hard = false;
    for (uint8_t c : s.hard) any_hard = any_hard || c != 0;
    if (any_hard && hard_imported()) {
        for (int i = 0; i < hard_option_count; i++) {
            const Hard_Option& o = hard_options[i];
            size_t c = s.hard[size_t(i)];
            if (c == 0 || c >= o.choices.size() || c >= o.files.size() || o.files[c].empty()) continue;
            const std::string path = data_path({"mod_src", "hardmode", o.files[c]});
            std::string text;
            if (!fs_read(path, text, nullptr, hard_option_file_max)) {
                File_Info info;
                if (fs_stat(path, info) && info.size > hard_option_file_max)
                    messages += fmt("Hard Mode: %s holds more than %d MB: not one of the mod's option files (import "
                                    "the ZIP again)\n",
                                    o.files[c], int(hard_option_file_max >> 20));
                else
                    messages += "Hard Mode: its files cannot be read: import the ZIP again\n";
                return false;
            }
            hard_edits_parse(text, o.files[c], edits);
        }
    }
    const std::map<std::string, std::string> replacements = gather_replacements(s);
    if (edits.empty() && replacements.empty()) return false;

    std::string index;
    for (std::string_view letter : {"u", "c"}) {
        struct Pair {
            std::string list, archive;
            bool wanted;
        };
        const Pair pairs[] = {
            {fmt("sys/filelist%s.win32.bin", letter), fmt("sys/amber_img%s.win32.bin", letter), !edits.empty()},
            {fmt("sys/filelist_scr%s.win32.bin", letter), fmt("sys/amber_scr%s.win32.bin", letter),
             !replacements.empty()},
        };
        for (const Pair& p : pairs) {
            if (!p.wanted) continue;
            Pair_Result r = patch_pair(p.list, p.archive, edits, replacements, messages);
            if (!r.ok) return false;
            index += r.index_line;
        }
    }
    if (index.empty()) return false;
    return fs_write_atomic(index_path, index);
}
