// Opening a bundle index from any bytes, then reading through it: every
// accepted name stays inside a destination folder, and reading the streams
// and files it describes stays inside the bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/kt_system/path.h"
#include "launcher/core/bundle.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (!bundle_open(bytes)) return 0;
    const std::string dest = path_join({"fuzz-dest"});
    for (const Bundle_Entry& e : bundle_entries) {
        std::string path = path_join({dest, e.name});
        if (path.size() <= dest.size() + 1 || path.compare(0, dest.size(), dest) != 0 ||
            path[dest.size()] != path_separator) {
            __builtin_trap();   // a name that leads out of the destination
        }
    }
    int reads = 0;
    for (const Bundle_Entry& e : bundle_entries) {
        if (reads++ == 8) break;
        if (bundle_streams[e.stream].unpacked_size > (1u << 20)) continue;
        std::string out;
        if (bundle_read(e.name, out) && out.size() != e.size) __builtin_trap();
    }
    return 0;
}
