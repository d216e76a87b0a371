// Steam's own text files from any bytes: the library list of a
// libraryfolders.vdf and the "installdir" of an app manifest: each value
// found lies within one line of the file.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_folder.h"
#include "launcher/gamebuild/game.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> libraries;
    vdf_library_paths(text, libraries);
    for (const std::string& l : libraries) {
        if (l.size() > text.size() || l.find('\n') != std::string::npos) std::abort();
    }
    const std::string manifest = path_join({fuzz_folder("steam_files"), "appmanifest_731905.acf"});
    if (!fs_write(manifest, text)) std::abort();
    std::string dir = installdir(manifest);
    if (dir.size() > text.size() || dir.find('\n') != std::string::npos) std::abort();
    return 0;
}
