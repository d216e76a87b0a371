// The RAR5 reader on any bytes: the block walk, then each listed entry's
// extraction into memory (entries of at most 1 MiB unpacked).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "launcher/archive/rar5.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    rar5::Rar5_Archive archive = rar5::from_memory(std::string_view(reinterpret_cast<const char*>(data), size));
    std::vector<rar5::Rar5_Entry> entries;
    rar5::list(archive, entries);   // a failed walk still leaves the entries before the fault
    std::string out;
    for (const rar5::Rar5_Entry& e : entries) {
        if (e.unpacked_size <= (1 << 20)) rar5::extract_to_memory(archive, e, out);
    }
    return 0;
}
