// Our zlib stream writer on any bytes: zlib must inflate every stream back
// to exactly those bytes, and the same bytes must give the same stream.
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "launcher/mods/zlib_writer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view in(reinterpret_cast<const char*>(data), size);
    std::string z;
    zlib_compress(z, in);
    std::string back(size + 1, '\0');
    uLongf got = uLongf(back.size());
    int r = uncompress(reinterpret_cast<Bytef*>(back.data()), &got, reinterpret_cast<const Bytef*>(z.data()),
                       uLong(z.size()));
    if (r != Z_OK || got != size || std::string_view(back.data(), got) != in) std::abort();
    std::string again;
    zlib_compress(again, in);
    if (again != z) std::abort();
    return 0;
}
