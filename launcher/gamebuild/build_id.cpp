#include "launcher/gamebuild/build_id.h"

#include <atomic>
#include <vector>

#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/gamebuild/options.h"
#include "launcher/gamebuild/run_game.h"
#include "launcher/core/build_id_cache.h"
#include "launcher/core/bundle.h"
#include "launcher/core/format.h"
#include "launcher/core/paths.h"
#include "launcher/core/settings.h"

namespace {

constexpr uint64_t fnv_basis = 0xcbf29ce484222325ull;
constexpr uint64_t fnv_prime = 0x100000001b3ull;

std::atomic<uint64_t> g_identity{0};

uint64_t rotl(uint64_t v, int n) { return (v << n) | (v >> (64 - n)); }

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

std::string_view trim(std::string_view s) {
    while (!s.empty() && is_space(s.front())) s.remove_prefix(1);
    while (!s.empty() && is_space(s.back())) s.remove_suffix(1);
    return s;
}

// Reads the file and answers whether it is stale, filling the record.
bool read_build_id(Build_Id_Record& record) {
    record = Build_Id_Record{};
    std::string text;
    if (!fs_read(path_join({exe_dir(), build_id_file_name}), text, nullptr, build_id_file_limit)) return true;
    std::vector<std::string_view> lines;
    std::string_view rest = trim(text);
    for (;;) {
        size_t nl = rest.find('\n');
        std::string_view line = rest.substr(0, nl);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        if (nl == std::string_view::npos) break;
        rest.remove_prefix(nl + 1);
    }
    bool stale = trim(lines[0]) != fmt("%016x", bundle_identity());
    if (lines.size() >= 2) record.signature = std::string(trim(lines[1]));
    if (lines.size() >= 3) {
        std::string_view third = trim(lines[2]);
        record.dlss = third.size() == 6 && third.substr(0, 5) == "dlss " && third.back() == '1';
    }
    return stale;
}

}  // namespace

uint64_t bundle_identity_of(std::string_view bytes) {
    uint64_t lane[4] = {fnv_basis, fnv_basis ^ 1, fnv_basis ^ 2, fnv_basis ^ 3};
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
    size_t n = bytes.size();
    size_t whole = n / 4 * 4;
    for (size_t i = 0; i < whole; i += 4) {
        lane[0] = (lane[0] ^ p[i]) * fnv_prime;
        lane[1] = (lane[1] ^ p[i + 1]) * fnv_prime;
        lane[2] = (lane[2] ^ p[i + 2]) * fnv_prime;
        lane[3] = (lane[3] ^ p[i + 3]) * fnv_prime;
    }
    for (size_t i = whole; i < n; ++i) lane[0] = (lane[0] ^ p[i]) * fnv_prime;
    uint64_t id = lane[0] ^ rotl(lane[1], 1) ^ rotl(lane[2], 2) ^ rotl(lane[3], 3) ^ uint64_t(n);
    return id == 0 ? 1 : id;
}

uint64_t bundle_identity() {
    uint64_t id = g_identity.load();
    if (id != 0) return id;
    // Two threads may both compute it; they store the same value.
    id = bundle_identity_of(bundle_bytes());
    g_identity.store(id);
    return id;
}

std::string build_options_sig() {
    Settings s = settings_copy();
    return fmt("options %s|O%d|pgo %v|lto %v|experimental %v|tools %v", s.compiler, s.opt_level, s.pgo, s.lto,
               s.experimental, s.tools);
}

std::string build_id_text(uint64_t identity, std::string_view signature, bool dlss) {
    return fmt("%016x\n%s\ndlss %d\n", identity, signature, dlss ? 1 : 0);
}

bool build_id_write(std::string_view folder, bool dlss, std::string* err) {
    bool ok = fs_write_atomic(path_join({folder, build_id_file_name}),
                              build_id_text(bundle_identity(), build_options_sig(), dlss), err);
    build_id_forget();
    return ok;
}

bool build_stale() {
    int state = build_id_state().load();
    if (state != Build_Id_Unread) return state == Build_Id_Stale;
    uint64_t generation = build_id_generation();
    Build_Id_Record record;
    bool stale = read_build_id(record);
    build_id_store(generation, stale ? Build_Id_Stale : Build_Id_Fresh, record);
    return stale;
}

bool build_outdated() {
    if (built_exe_path().empty()) return false;
    if (build_stale()) return false;
    Build_Id_Record record = build_id_record();
    if (record.signature.empty()) return false;
    if (build_options_sig() != record.signature) return true;
    Settings s = settings_copy();
    return s.aa_dlss && !find_lld(s.compiler).empty() && !record.dlss;
}
