// fixture_game: writes a fixture install of the game.
//
//   fixture_game ROOT [--exe en|jp|4gb|other|truncated|bad-pe|not-mz|short|folder|none]
//                     [--folder NAME] [--installdir NAME] [--depot N] [--no-manifest]
//                     [--library PATH]... [--bink] [--movies] [--table]
//
// ROOT is the store root that receives steamapps/. --table prints the
// identity table text that matches the English executable and exits.
#include <cstdio>
#include <cstring>
#include <string>

#include "tools/fixture_game/fixture_game.h"

namespace {

struct Exe_Name {
    const char* name;
    Fixture_Exe exe;
};
const Exe_Name exe_names[] = {
    {"en", Fixture_Exe::En},          {"jp", Fixture_Exe::Jp},
    {"4gb", Fixture_Exe::Four_Gb},    {"other", Fixture_Exe::Other_Bytes},
    {"truncated", Fixture_Exe::Truncated_Headers}, {"bad-pe", Fixture_Exe::Bad_Pe_Offset},
    {"not-mz", Fixture_Exe::Not_Mz},  {"short", Fixture_Exe::Short},
    {"folder", Fixture_Exe::Folder},  {"none", Fixture_Exe::None},
};

int usage() {
    std::fprintf(stderr,
                 "usage: fixture_game ROOT [--exe en|jp|4gb|other|truncated|bad-pe|not-mz|short|folder|none]\n"
                 "                    [--folder NAME] [--installdir NAME] [--depot N] [--no-manifest]\n"
                 "                    [--library PATH]... [--bink] [--movies] | --table\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    Fixture_Options o;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        bool has_value = i + 1 < argc;
        if (a == "--table") {
            std::fputs(fixture_table_text().c_str(), stdout);
            return 0;
        } else if (a == "--exe" && has_value) {
            std::string v = argv[++i];
            bool known = false;
            for (const Exe_Name& n : exe_names) {
                if (v == n.name) {
                    o.exe = n.exe;
                    known = true;
                }
            }
            if (!known) return usage();
        } else if (a == "--folder" && has_value) {
            o.folder = argv[++i];
        } else if (a == "--installdir" && has_value) {
            o.installdir = argv[++i];
        } else if (a == "--depot" && has_value) {
            o.depot = argv[++i];
        } else if (a == "--library" && has_value) {
            o.libraries.push_back(argv[++i]);
        } else if (a == "--no-manifest") {
            o.manifest = false;
        } else if (a == "--bink") {
            o.bink = true;
        } else if (a == "--movies") {
            o.movies = true;
        } else if (!a.empty() && a[0] != '-' && o.store_root.empty()) {
            o.store_root = a;
        } else {
            return usage();
        }
    }
    if (o.store_root.empty()) return usage();
    std::string err;
    if (!fixture_write_install(o, &err)) {
        std::fprintf(stderr, "fixture_game: %s\n", err.c_str());
        return 1;
    }
    std::printf("%s\n", fixture_game_dir(o).c_str());
    return 0;
}
