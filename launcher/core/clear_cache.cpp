#include "launcher/core/clear_cache.h"

#include <algorithm>
#include <cstring>

#include "engine/kt_system/env.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/core/build_id_cache.h"
#include "launcher/core/i18n.h"
#include "launcher/core/paths.h"
#include "launcher/core/settings.h"
#include "launcher/core/task.h"

namespace {

// What the data folder keeps whatever happens (names compared ignoring case).
const char* const kept_always[] = {"cdrive", "android_key.bin", "android_cert.der", "button_icons", "mod_src"};

// Files beside the launcher that belong to the built game or its runs.
const char* const launcher_files[] = {
    "Quillmarsh",          "Quillmarsh.exe",     "Quillmarsh.cfg",       "Quillmarsh.log",   "Quillmarsh.apk",
    "Quillmarsh.build-id", "Quillmarsh.prev.log", "Quillmarsh-crash.txt", "vk_pipelines.bin", "vk_pipelist.bin",
};

struct Name_Pattern {
    const char* prefix;
    const char* suffix;
};
const Name_Pattern launcher_patterns[] = {
    {"Quillmarsh-profile-", ".txt"},
    {"Quillmarsh-", ".AppImage"},
};

char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

bool equal_ignoring_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
    }
    return true;
}

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
    return s;
}

bool language_file_valid() {
    std::string text;
    if (!fs_read(data_path({"language.txt"}), text, nullptr, language_file_limit)) return false;
    for (const Language& l : language_table) {
        if (text == l.code) return true;
    }
    return false;
}

bool kept_in_data_folder(std::string_view name, bool settings_exact, bool language_valid) {
    for (const char* k : kept_always) {
        if (equal_ignoring_case(name, k)) return true;
    }
    if (settings_exact && equal_ignoring_case(name, "settings.txt")) return true;
    if (language_valid && equal_ignoring_case(name, "language.txt")) return true;
    return false;
}

// Deletes one entry of a listing: a folder with everything in it (links met
// on the way are removed, never followed), anything else by itself.
bool delete_entry(const std::string& path, const Dir_Entry& e, std::string& err) {
    if (e.is_dir) return fs_remove_tree(path, &err);
    return fs_remove_file(path, &err);
}

}  // namespace

int cmp_strings(std::string_view a, std::string_view b) {
    size_t n = std::min(a.size(), b.size());
    int c = n ? std::memcmp(a.data(), b.data(), n) : 0;
    if (c != 0) return c < 0 ? -1 : 1;
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

std::vector<std::string> lines(std::string_view text) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        line = trimmed(line);
        if (!line.empty()) out.emplace_back(line);
        start = end + 1;
    }
    std::sort(out.begin(), out.end(), [](const std::string& a, const std::string& b) { return cmp_strings(a, b) < 0; });
    return out;
}

bool settings_file_exact() {
    std::string text;
    if (!fs_read(data_path({"settings.txt"}), text, nullptr, settings_file_limit)) return false;

    // A scratch record: the live one is never touched by the test.
    Settings scratch = settings_defaults();
    scratch.save_dirs = {};
    settings_apply_text(scratch, text);
    std::string written = settings_text(scratch);

    std::vector<std::string> a = lines(text);
    std::vector<std::string> b = lines(written);
    std::string_view version = trimmed(std::string_view(written).substr(0, written.find('\n')));

    if (a.empty()) return false;
    if (std::find(a.begin(), a.end(), version) == a.end()) return false;
    // Every line of the file must have its own equal line in what this
    // version writes (both sorted; duplicates counted).
    size_t j = 0;
    for (const std::string& line : a) {
        while (j < b.size() && cmp_strings(b[j], line) < 0) ++j;
        if (j == b.size() || b[j] != line) return false;
        ++j;
    }
    return true;
}

void settings_reset() {
    Settings s = settings_defaults();
    s.save_dirs = {};
    if (s.graphics > 4) s.graphics = 2;
    settings_apply_preset(s);
    // Replaced whole under the settings lock: a reader sees the old record or
    // this one, never a mixture.
    settings_replace(s);
}

bool clear_cache_launcher_file(std::string_view name) {
    for (const char* f : launcher_files) {
        if (name == f) return true;
    }
    for (const Name_Pattern& p : launcher_patterns) {
        std::string_view prefix = p.prefix, suffix = p.suffix;
        if (name.size() >= prefix.size() + suffix.size() && name.starts_with(prefix) && name.ends_with(suffix)) {
            return true;
        }
    }
    return false;
}

bool clear_cache_task(Task& t) {
    const std::string& dir = data_dir();
    std::vector<Dir_Entry> entries;
    std::string err;
    if (!fs_list(dir, entries, &err)) {
        logf(t, "Could not read the data folder %s: %v", dir, err);
        return false;
    }

    bool settings_exact = settings_file_exact();
    bool language_valid = language_file_valid();
    int64_t deleted = 0;
    int64_t failures = 0;

    for (const Dir_Entry& e : entries) {
        if (kept_in_data_folder(e.name, settings_exact, language_valid)) continue;
        set_status(t, 0, "Clearing the data folder: %s", e.name);
        err.clear();
        if (delete_entry(data_path({e.name}), e, err)) {
            ++deleted;
        } else {
            logf(t, "Could not delete %s: %v", e.name, err);
            ++failures;
        }
    }

    if (!settings_exact) {
        settings_reset();
        logf(t, "The settings were not this launcher version's own: they are back to the defaults.");
    }

    std::string launcher_dir = exe_dir();
    std::vector<Dir_Entry> files;
    if (fs_is_dir(launcher_dir) && fs_list(launcher_dir, files)) {
        std::string own_name = path_base(exe_path());
        for (const Dir_Entry& e : files) {
            if (e.is_dir || !clear_cache_launcher_file(e.name)) continue;
            std::string path = path_join({launcher_dir, e.name});
            // A link to a folder is left alone like the folder itself.
            if (e.is_link && fs_is_dir(path)) continue;
            if (equal_ignoring_case(e.name, own_name)) continue;
            set_status(t, 0, "Clearing: %s", e.name);
            err.clear();
            if (fs_remove_file(path, &err)) {
                ++deleted;
            } else {
                logf(t, "Could not delete %s: %v", e.name, err);
                ++failures;
            }
        }
    }

    build_id_forget();

    if (failures > 0) {
        logf(t, "The cache could not be cleared completely: close any program using its files and try again.");
        return false;
    }
    if (settings_exact) {
        logf(t,
             "Cleared the cache (%d items deleted; the saves, settings, imported Button Icons / Hard Mode files and "
             "the Android key stay).",
             deleted);
    } else {
        logf(t,
             "Cleared the cache (%d items deleted; the saves, imported Button Icons / Hard Mode files and the Android "
             "key stay).",
             deleted);
    }
    return true;
}

void cli_task_clear_cache(Task& t) {
    if (!clear_cache_task(t)) t.failed.store(1);
}
