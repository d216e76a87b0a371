// Seeds for the fuzz targets that read the launcher's and the game's files
// (scripts/fuzz_smoke.sh): settings.txt and Quillmarsh.cfg as this build
// writes them, language codes, the fixture game's executables, its store
// files and its movie containers.
//   seed_writer SEEDS   writes SEEDS/<target>/<name> for each target
#include <cstdio>
#include <string>
#include <vector>

#include "engine/kt_system/env.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/core/paths.h"
#include "launcher/core/settings.h"
#include "launcher/gamebuild/config.h"
#include "tools/fixture_game/fixture_game.h"

namespace {

bool put(const std::string& seeds, const char* target, const std::string& name, const std::string& bytes) {
    std::string dir = path_join({seeds, target});
    std::string err;
    if (fs_make_dirs(dir, &err) && fs_write(path_join({dir, name}), bytes, &err)) return true;
    std::fprintf(stderr, "seed_writer: %s/%s: %s\n", target, name.c_str(), err.c_str());
    return false;
}

std::string read_or_empty(const std::string& path) {
    std::string text;
    fs_read(path, text);
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: seed_writer SEEDS\n");
        return 2;
    }
    const std::string seeds = argv[1];
    const std::string work = path_join({seeds, "work"});
    env_set("LOCALAPPDATA", work);
    paths_init();
    paths_set_exe_dir(work);
    bool ok = true;

    Settings s = settings_defaults();
    ok &= put(seeds, "fuzz_settings", "defaults.txt", settings_text(s));
    s.game_dir = "C:\\Games\\EMBERFALL SAGA";
    s.graphics = 4;
    s.save_dirs = {"D:\\Saves", "E:\\More saves"};
    ok &= put(seeds, "fuzz_settings", "custom.txt", settings_text(s));

    std::string cfg = cfg_text();
    ok &= put(seeds, "fuzz_cfg_import", "launcher.cfg", cfg);
    ok &= put(seeds, "fuzz_cfg_import", "menus.cfg",
              cfg + "ZQR_MENU_KEYS=ZQR_TAA,ZQR_NO_SHADOWS,ZQR_FPS,ZQR_VOL_MUSIC,ZQR_STRETCH\n"
                    "ZQR_TAA=1\nZQR_NO_SHADOWS=1\nZQR_FPS=144\nZQR_VOL_MUSIC=40\nZQR_STRETCH=1\n");

    for (const char* code : {"ja", " de\n", "pt-BR", "zh-Hant\r\n", "xx"}) {
        std::string name = code;
        for (char& c : name) {
            if (c == ' ' || c == '\n' || c == '\r') c = '_';
        }
        ok &= put(seeds, "fuzz_language", name, code);
    }

    const struct {
        const char* name;
        Fixture_Exe exe;
    } exes[] = {
        {"en", Fixture_Exe::En},          {"jp", Fixture_Exe::Jp},
        {"4gb", Fixture_Exe::Four_Gb},    {"other", Fixture_Exe::Other_Bytes},
        {"truncated", Fixture_Exe::Truncated_Headers}, {"bad-pe", Fixture_Exe::Bad_Pe_Offset},
        {"not-mz", Fixture_Exe::Not_Mz},  {"short", Fixture_Exe::Short},
    };
    for (const auto& e : exes) ok &= put(seeds, "fuzz_game_exe", std::string(e.name) + ".exe", fixture_exe_bytes(e.exe));

    Fixture_Options o;
    o.store_root = path_join({work, "store"});
    o.libraries = {"D:\\SteamLibrary", "E:\\Games\\Steam \"quoted\""};
    o.movies = true;
    std::string err;
    if (!fixture_write_install(o, &err)) {
        std::fprintf(stderr, "seed_writer: fixture install: %s\n", err.c_str());
        return 1;
    }
    std::string steamapps = path_join({o.store_root, "steamapps"});
    ok &= put(seeds, "fuzz_steam_files", "libraryfolders.vdf", read_or_empty(path_join({steamapps, "libraryfolders.vdf"})));
    ok &= put(seeds, "fuzz_steam_files", "appmanifest.acf", read_or_empty(path_join({steamapps, "appmanifest_731905.acf"})));

    std::string movies = path_join({fixture_game_dir(o), "amber_data", "movie"});
    for (const char* name : {"opening.wmp", "ending.wmp", "blank.wmp"})
        ok &= put(seeds, "fuzz_movies", name, read_or_empty(path_join({movies, name})));
    std::string staff = path_join({movies, "staff.wmp"});
    ok &= put(seeds, "fuzz_movies", "staff_with_heads",
              read_or_empty(staff) + "\n--- heads\n" + read_or_empty(staff + ".heads"));

    fs_remove_tree(work);
    return ok ? 0 : 1;
}
