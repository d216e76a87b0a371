// The game file-list reader on any bytes; a list it accepts is written back
// (every other entry's line changed) and must read again with those lines.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "launcher/mods/filelist.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    Filelist list;
    if (!filelist_read(bytes, list)) return 0;
    for (size_t i = 0; i < list.entries.size(); i += 2) {
        list.entries[i].text = "1:2:3:changed/" + std::to_string(i);
        list.entries[i].changed = true;
    }
    std::string out;
    if (!filelist_write(list, out)) return 0;
    Filelist back;
    if (!filelist_read(out, back) || back.entries.size() != list.entries.size()) std::abort();
    for (size_t i = 0; i < list.entries.size(); i++) {
        if (back.entries[i].text != list.entries[i].text || back.entries[i].value != list.entries[i].value)
            std::abort();
    }
    return 0;
}
