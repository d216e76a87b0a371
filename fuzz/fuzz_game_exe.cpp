// The game's executable from any bytes, checked against the identity table
// of the fixture game inside a store library with its manifest: the header
// walk stays inside the file, and the answer is either an edition or a
// reason, never both and never neither.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz/fuzz_folder.h"
#include "launcher/gamebuild/game.h"
#include "tools/fixture_game/fixture_game.h"

namespace {

std::string g_exe;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    Fixture_Options o;
    o.store_root = fuzz_folder("game_exe");
    std::string err;
    if (!fixture_write_install(o, &err)) {
        std::fprintf(stderr, "cannot write the fixture install: %s\n", err.c_str());
        std::abort();
    }
    g_exe = game_exe_path(fixture_game_dir(o));
    const std::string table = fixture_table_text();
    game_set_table_reader([table](std::string& text) {
        text = table;
        return true;
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (!fs_write(g_exe, bytes)) std::abort();
    Exe_Check c = check_game_exe(g_exe);
    if (c.ok != c.reason.empty()) std::abort();
    if (c.ok && c.edition != "EN" && c.edition != "JP") std::abort();
    return 0;
}
