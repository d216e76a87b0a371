#include "launcher/gamebuild/game.h"

#include <openssl/evp.h>

#include <mutex>

#include "engine/kt_system/env.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "engine/kt_system/registry.h"
#include "launcher/gamebuild/config.h"
#include "launcher/gamebuild/deps.h"
#include "launcher/gamebuild/game_state.h"
#include "launcher/core/bundle.h"
#include "launcher/core/format.h"
#include "launcher/core/parse_int.h"
#include "launcher/core/paths.h"
#include "launcher/core/settings.h"
#include "launcher/mods/hd.h"
#include "launcher/mods/movies.h"

namespace {

constexpr std::string_view game_folder_name = "EMBERFALL SAGA";
constexpr std::string_view own_app_manifest = "appmanifest_731905.acf";
constexpr std::string_view own_depot = "574632";

std::mutex g_table_lock;
std::function<bool(std::string&)> g_table_reader;

bool read_table(std::string& text) {
    std::function<bool(std::string&)> reader;
    {
        std::lock_guard<std::mutex> guard(g_table_lock);
        reader = g_table_reader;
    }
    if (reader) return reader(text);
    return bundle_read("gen/zqr_table.c", text);
}

bool starts_with(std::string_view s, std::string_view p) { return s.size() >= p.size() && s.compare(0, p.size(), p) == 0; }
bool ends_with(std::string_view s, std::string_view p) {
    return s.size() >= p.size() && s.compare(s.size() - p.size(), p.size(), p) == 0;
}

// The lines of a text: split at "\n", one trailing CR dropped, trimmed.
std::vector<std::string_view> trimmed_lines(std::string_view text) {
    std::vector<std::string_view> out;
    for (std::string_view line : split_at(text, '\n')) {
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        out.push_back(trim_space(line));
    }
    return out;
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Exactly `digits` hexadecimal digits at the front of `s`, not followed by
// another one.
bool parse_hex(std::string_view s, size_t digits, uint64_t& out) {
    if (s.size() < digits) return false;
    uint64_t v = 0;
    for (size_t i = 0; i < digits; ++i) {
        int d = hex_value(s[i]);
        if (d < 0) return false;
        v = v << 4 | static_cast<uint64_t>(d);
    }
    if (s.size() > digits && hex_value(s[digits]) >= 0) return false;
    out = v;
    return true;
}

// One range line of the table: "{0x%08X, N }," (spaces and closing braces
// around N ignored).
bool parse_range_line(std::string_view line, uint32_t& address, uint32_t& length) {
    line.remove_prefix(3);   // "{0x"
    uint64_t a = 0;
    if (!parse_hex(line, 8, a)) return false;
    line.remove_prefix(8);
    if (line.empty() || line[0] != ',') return false;
    line.remove_prefix(1);
    size_t i = 0;
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '}')) ++i;
    uint64_t n = 0;
    size_t digits = 0;
    while (i < line.size() && line[i] >= '0' && line[i] <= '9') {
        n = n * 10 + static_cast<uint64_t>(line[i] - '0');
        if (n > 0xFFFFFFFFull) return false;
        ++i;
        ++digits;
    }
    if (digits == 0) return false;
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '}')) ++i;
    std::string_view rest = line.substr(i);
    if (!(rest.empty() || rest == ",")) return false;
    address = static_cast<uint32_t>(a);
    length = static_cast<uint32_t>(n);
    return true;
}

std::string sha256_prefix(std::string_view bytes) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), md, &size, EVP_sha256(), nullptr) != 1 || size < 8) return "????????????????";
    std::string out;
    for (int i = 0; i < 8; ++i) out += fmt("%02x", static_cast<unsigned>(md[i]));
    return out;
}

// The most read of Steam's own text files (the library list and the app
// manifests, a few kilobytes each) and of the game's executable.
constexpr uint64_t steam_file_limit = uint64_t(4) << 20;
constexpr uint64_t game_exe_limit = uint64_t(256) << 20;

// The first double-quoted word after the key "InstalledDepots", "" when none.
std::string first_depot(std::string_view manifest) {
    size_t key = manifest.find("\"InstalledDepots\"");
    if (key == std::string_view::npos) return std::string();
    size_t open = manifest.find('"', key + 17);
    if (open == std::string_view::npos) return std::string();
    size_t close = manifest.find('"', open + 1);
    if (close == std::string_view::npos) return std::string();
    return std::string(manifest.substr(open + 1, close - open - 1));
}

// The store manifest of the install that holds `exe_path`, "" when none.
std::string find_manifest(std::string_view exe_path) {
    std::string game = std::string(exe_path);
    for (int i = 0; i < 5; ++i) game = path_dir(game);
    std::string name = path_base(game);
    std::string library = path_dir(path_dir(game));
    std::string own = library.empty() ? std::string(own_app_manifest) : path_join({library, own_app_manifest});
    if (installdir(own) == name) return own;
    std::vector<Dir_Entry> entries;
    if (!fs_list(library.empty() ? std::string(".") : library, entries)) return std::string();
    for (const Dir_Entry& e : entries) {
        if (!starts_with(e.name, "appmanifest_") || !ends_with(e.name, ".acf")) continue;
        std::string path = library.empty() ? e.name : path_join({library, e.name});
        if (installdir(path) == name) return path;
    }
    return std::string();
}

struct Section {
    uint32_t va = 0;
    uint32_t raw = 0;
};

}  // namespace

void game_set_table_reader(std::function<bool(std::string& text)> reader) {
    std::lock_guard<std::mutex> guard(g_table_lock);
    g_table_reader = std::move(reader);
}

// --- Finding the game --------------------------------------------------------

std::string game_exe_path(std::string_view game_dir) {
    return path_join({game_dir, "amber_data", "prog", "win", "bin", "efsagaimg.exe"});
}

bool is_game_dir(std::string_view dir) { return !dir.empty() && file_exists(game_exe_path(dir)); }

std::vector<std::string> steam_roots() {
    std::vector<std::string> out;
    std::string reg = reg_string(Reg_Root::Current_User, "Software\\Valve\\Steam", "SteamPath", 2048);
    if (!reg.empty()) out.push_back(reg);
    for (const char* var : {"ProgramFiles(x86)", "ProgramFiles"}) {
        std::string base = env_get(var);
        if (!base.empty()) out.push_back(path_join({base, "Steam"}));
    }
    return out;
}

void vdf_library_paths(std::string_view vdf_text, std::vector<std::string>& out) {
    for (std::string_view line : trimmed_lines(vdf_text)) {
        if (!starts_with(line, "\"path\"")) continue;
        std::string_view rest = trim_space(line.substr(6));
        if (rest.size() < 2 || rest[0] != '"') continue;
        std::string_view inner = rest.substr(1, rest.size() - 2);
        std::string value;
        for (size_t i = 0; i < inner.size(); ++i) {
            value.push_back(inner[i]);
            if (inner[i] == '\\' && i + 1 < inner.size() && inner[i + 1] == '\\') ++i;
        }
        out.push_back(std::move(value));
    }
}

std::vector<std::string> steam_libraries() {
    std::vector<std::string> out;
    for (const std::string& root : steam_roots()) {
        out.push_back(root);
        std::string text;
        if (!fs_read(path_join({root, "steamapps", "libraryfolders.vdf"}), text, nullptr, steam_file_limit)) continue;
        vdf_library_paths(text, out);
    }
    return out;
}

std::string installdir(std::string_view manifest_path) {
    std::string text;
    if (!fs_read(manifest_path, text, nullptr, steam_file_limit)) return std::string();
    for (std::string_view line : trimmed_lines(text)) {
        if (!starts_with(line, "\"installdir\"")) continue;
        std::string_view rest = trim_space(line.substr(12));
        if (rest.size() < 2 || rest.front() != '"' || rest.back() != '"') continue;
        return std::string(rest.substr(1, rest.size() - 2));
    }
    return std::string();
}

void find_game(Task& t) {
    // A mod folder's swap that a kill cut short is settled before anything
    // reads the mods.
    mods_settle();
    Settings s = settings_copy();
    if (!is_game_dir(s.game_dir)) {
        set_status(t, -1, "Looking for EMBERFALL SAGA");
        std::string found;
        for (const std::string& lib : steam_libraries()) {
            std::string dir = path_join({lib, "steamapps", "common", game_folder_name});
            if (is_game_dir(dir)) {
                found = dir;
                break;
            }
        }
        if (found.empty()) {
            for (const std::string& lib : steam_libraries()) {
                std::string common = path_join({lib, "steamapps", "common"});
                std::vector<Dir_Entry> entries;
                if (!fs_list(common, entries)) continue;
                for (const Dir_Entry& e : entries) {
                    std::string dir = path_join({common, e.name});
                    if (is_game_dir(dir)) {
                        found = dir;
                        break;
                    }
                }
                if (!found.empty()) break;
            }
        }
        if (!found.empty()) {
            // The live settings are shared with the window: changed under
            // their guard and written to settings.txt at once.
            std::string err;
            if (settings_set_string(&Settings::game_dir, "game_dir", found, &err)) {
                if (!save_settings(&err)) log_line(t, err);
            } else {
                log_line(t, err);
            }
        }
    }
    refresh_game(t);
    deps_check_task(t);
}

void game_check_task(Task& t) { refresh_game(t); }

// --- Game check -------------------------------------------------------------

bool pe_u32(std::string_view bytes, uint64_t offset, uint32_t& out) {
    out = 0;
    if (offset > bytes.size() || bytes.size() - offset < 4) return false;
    out = movie_u32(bytes.substr(static_cast<size_t>(offset), 4));
    return true;
}

uint64_t fnv1a64(std::string_view bytes, uint64_t state) {
    for (unsigned char c : bytes) {
        state ^= c;
        state *= 0x100000001B3ull;
    }
    return state;
}

bool parse_exe_table(std::string_view text, Exe_Table& out) {
    constexpr std::string_view ranges_marker = "zqr_hash_ranges[] = {";
    constexpr std::string_view hash_marker = "zqr_data_hash = 0x";
    size_t r = text.find(ranges_marker);
    size_t h = text.find(hash_marker);
    if (r == std::string_view::npos || h == std::string_view::npos) return false;
    Exe_Table table;
    if (!parse_hex(text.substr(h + hash_marker.size()), 16, table.hash)) return false;
    size_t block = r + ranges_marker.size();
    size_t end = text.find("};", block);
    if (end == std::string_view::npos) return false;
    for (std::string_view line : trimmed_lines(text.substr(block, end - block))) {
        if (!starts_with(line, "{0x")) continue;
        uint32_t address = 0, length = 0;
        if (!parse_range_line(line, address, length)) return false;
        table.ranges.emplace_back(address, length);
    }
    out = std::move(table);
    return true;
}

std::string exe_mismatch(std::string_view exe_path, std::string_view exe_bytes, const Pe_Facts& facts) {
    std::string manifest_path = find_manifest(exe_path);
    std::string manifest;
    if (!manifest_path.empty() && fs_read(manifest_path, manifest, nullptr, steam_file_limit)) {
        std::string depot = first_depot(manifest);
        if (!depot.empty() && depot != own_depot) {
            return fmt("it is another regional edition of the game (Steam depot %s; this launcher's code is from the "
                       "North America / Europe edition, depot 574632): it is not supported yet, and re-installing gets "
                       "the same one",
                       depot);
        }
    }
    std::vector<std::string> findings;
    if (facts.header && (facts.characteristics & 0x0020) != 0) findings.emplace_back("4GB-patched");
    std::string clause = "a different version of the game or a modified copy";
    if (!findings.empty()) {
        std::string joined;
        for (size_t i = 0; i < findings.size(); ++i) {
            if (i > 0) joined += ", ";
            joined += findings[i];
        }
        clause = fmt("a modified copy of the game (%s)", joined);
    }
    return fmt("%s, SHA-256 %s\xE2\x80\xA6. This launcher needs the Steam release's own efsagaimg.exe: in Steam, "
               "Properties > Installed Files > Verify integrity of game files, and do not patch it again (Quillmarsh "
               "has its own 4GB mode)",
               clause, sha256_prefix(exe_bytes));
}

Exe_Check check_game_exe(std::string_view exe_path) {
    Exe_Check out;
    std::string table_text;
    if (!read_table(table_text)) {
        out.reason = "the launcher's sources are damaged (no dispatch table)";
        return out;
    }
    Exe_Table table;
    if (!parse_exe_table(table_text, table)) {
        out.reason = "the launcher's sources are damaged (no exe check)";
        return out;
    }
    std::string exe;
    if (!fs_read(exe_path, exe, nullptr, game_exe_limit)) {
        out.reason = "it cannot be read";
        return out;
    }
    std::string_view bytes(exe);
    if (bytes.size() < 1024 || bytes[0] != 'M' || bytes[1] != 'Z') {
        out.reason = "it is not a Windows program";
        return out;
    }
    // Every header field is read through pe_u32, which refuses offsets
    // outside the file: a damaged or cut header never reads past the end.
    Pe_Facts facts;
    uint32_t pe = 0, count = 0, opt_size = 0;
    pe_u32(bytes, 0x3C, pe);
    if (!pe_u32(bytes, uint64_t(pe) + 6, count) || !pe_u32(bytes, uint64_t(pe) + 20, opt_size) ||
        !pe_u32(bytes, uint64_t(pe) + 22, facts.characteristics)) {
        out.reason = "it is not a Windows program";
        return out;
    }
    facts.header = true;
    facts.characteristics &= 0xFFFF;
    count &= 0xFFFF;
    opt_size &= 0xFFFF;

    bool identified = false;
    uint64_t state = 0xCBF29CE484222325ull;
    bool walked = true;
    if (!table.ranges.empty()) {
        uint32_t image_base = 0;
        std::vector<Section> sections;
        walked = pe_u32(bytes, uint64_t(pe) + 52, image_base);
        uint64_t first = uint64_t(pe) + 24 + opt_size;
        for (uint32_t i = 0; walked && i < count; ++i) {
            Section s;
            uint64_t at = first + uint64_t(i) * 40;
            walked = pe_u32(bytes, at + 12, s.va) && pe_u32(bytes, at + 20, s.raw);
            sections.push_back(s);
        }
        if (sections.empty()) walked = false;
        for (size_t r = 0; walked && r < table.ranges.size(); ++r) {
            auto [address, length] = table.ranges[r];
            const Section* hit = nullptr;
            for (const Section& s : sections) {
                if (static_cast<uint32_t>(s.va + image_base) == address) hit = &s;
            }
            if (!hit || uint64_t(hit->raw) + length > bytes.size()) {
                walked = false;
                break;
            }
            state = fnv1a64(bytes.substr(hit->raw, length), state);
        }
    }
    if (walked) {
        if (state == table.hash) {
            out.edition = "EN";
            identified = true;
        } else if (!table.ranges.empty() && state == jp_edition_hash) {
            out.edition = "JP";
            identified = true;
        }
    }
    if (identified) {
        out.ok = true;
        return out;
    }
    out.reason = exe_mismatch(exe_path, bytes, facts);
    return out;
}

void refresh_game(Task& t) {
    Game_State g;
    g.checked = true;
    std::string dir = settings_copy().game_dir;
    if (!is_game_dir(dir)) {
        g.reason = dir.empty() ? "not found: choose its folder" : "that folder has no amber_data/prog/win/bin/efsagaimg.exe";
        game_state_publish(g);
        return;
    }
    set_status(t, -1, "Checking the game");
    std::string exe = game_exe_path(dir);
    Exe_Check c = check_game_exe(exe);
    g.ok = c.ok;
    g.reason = c.reason;
    g.edition = c.edition;
    if (c.ok) {
        bool any = false;
        for (const Movie& m : list_movies(dir)) {
            if (m.missing < static_cast<int64_t>(m.streams.size())) g.some_converted = true;
            if (!movie_intact(m)) continue;
            any = true;
            g.to_convert += m.missing;
            if (m.all_converted) {
                ++g.discardable;
                g.discard_bytes += m.size - movie_kept_bytes;
            } else {
                ++g.kept;
            }
        }
        std::string bin = path_dir(exe);
        g.convertible = any && file_exists(path_join({bin.empty() ? std::string(".") : bin, "bink2w32.dll"}));
    }
    logf(t, "Game: %s (%s)", dir, c.ok ? std::string("ready") : c.reason);
    game_state_publish(g);
    // The configuration follows the check, but is never created here.
    if (c.ok) cfg_write_file(exe_dir(), Cfg_When::If_Present);
}
