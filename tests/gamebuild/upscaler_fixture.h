// Small stand-ins for the vendors' files, and the task whose log the
// upscaler code writes to.
#pragma once
#include <string>
#include <vector>

#include "launcher/gamebuild/dlss.h"
#include "launcher/gamebuild/downloads.h"
#include "launcher/gamebuild/fsr4.h"
#include "launcher/core/task.h"
#include "tests/gamebuild/config_fixture.h"

// One file of a stand-in table: where it is served and what it holds.
struct Fake_File {
    std::string remote, name, bytes, sha256;
};

inline std::string pattern_bytes(size_t size, char seed) {
    std::string out(size, '\0');
    for (size_t i = 0; i < size; i++) out[i] = char(seed + (i * 7 + i / 13) % 91);
    return out;
}

// The three FSR 4 rows with the real paths and names, and small contents.
inline std::vector<Fake_File> fake_fsr4_files() {
    std::vector<Fake_File> files = {
        {"docs/license.md", "license.md", pattern_bytes(700, 'a'), ""},
        {"signedbin/amd_fidelityfx_loader_vk.dll", "amd_fidelityfx_loader_vk.dll", pattern_bytes(3000, 'L'), ""},
        {"signedbin/amd_fidelityfx_upscaler_vk.dll", "amd_fidelityfx_upscaler_vk.dll", pattern_bytes(5001, 'U'), ""},
    };
    for (Fake_File& f : files) f.sha256 = sha256_hex(f.bytes);
    return files;
}

inline std::vector<Fsr4_File> fsr4_rows(const std::vector<Fake_File>& files) {
    std::vector<Fsr4_File> rows;
    for (const Fake_File& f : files) rows.push_back({f.remote, f.name, f.sha256, int64_t(f.bytes.size())});
    return rows;
}

inline std::vector<Fake_File> fake_dlss_files() {
    std::vector<Fake_File> files = {
        {"LICENSE.txt", "LICENSE.txt", pattern_bytes(400, 'n'), ""},
        {"include/nvsdk_ngx_vk.h", "include/nvsdk_ngx_vk.h", pattern_bytes(900, 'h'), ""},
        {"lib/Windows_x86_64/rel/nvngx_dlss.dll", "lib/Windows_x86_64/rel/nvngx_dlss.dll", pattern_bytes(4096, 'D'), ""},
    };
    for (Fake_File& f : files) f.sha256 = sha256_hex(f.bytes);
    return files;
}

inline std::vector<Dlss_File> dlss_rows(const std::vector<Fake_File>& files) {
    std::vector<Dlss_File> rows;
    for (const Fake_File& f : files) rows.push_back({f.remote, f.sha256, int64_t(f.bytes.size())});
    return rows;
}

inline std::vector<std::string> log_of(Task& t) {
    Lock_Guard guard(t.lock);
    return t.log;
}

struct Upscaler_Fixture : Cfg_Fixture {
    std::string saved_path = env_get("PATH");
    std::vector<Fake_File> fsr = fake_fsr4_files();
    std::vector<Fake_File> dlss = fake_dlss_files();
    Upscaler_Fixture() {
        fsr4_set_table_for_tests(fsr4_rows(fsr));
        dlss_set_table_for_tests(dlss_rows(dlss));
    }
    ~Upscaler_Fixture() {
        env_set("PATH", saved_path);
        fsr4_set_table_for_tests({});
        dlss_set_table_for_tests({});
        upscaler_set_site("");
        upscaler_set_stall_seconds(0);
    }
    // PATH names only an empty folder: no curl can be found through it.
    void hide_curl() {
        std::string empty = path_join({dir.path, "empty-bin"});
        fs_make_dirs(empty);
        env_set("PATH", empty);
    }
    void put_fsr4(const Fake_File& f, std::string_view bytes) {
        fs_make_dirs(fsr4_dir());
        fs_write(path_join({fsr4_dir(), f.name}), bytes);
    }
    void put_dlss(const Fake_File& f, std::string_view bytes) {
        std::string path = path_join({dlss_dir(), f.name});
        fs_make_dirs(path_dir(path));
        fs_write(path, bytes);
    }
    std::string read_fsr4(const Fake_File& f) {
        std::string data;
        fs_read(path_join({fsr4_dir(), f.name}), data);
        return data;
    }
};
