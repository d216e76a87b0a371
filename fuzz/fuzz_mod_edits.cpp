// Hard Mode option files and data tables on any bytes: the input is an
// option file, a NUL, then a table. Every edit the file yields is applied
// to the table whenever it holds together; the table keeps its size.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "launcher/mods/mod_data.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    size_t nul = bytes.find('\0');
    std::string_view text = bytes.substr(0, nul);
    std::string table(nul == std::string_view::npos ? std::string_view() : bytes.substr(nul + 1));
    Mod_Edits edits;
    hard_edits_parse(text, "fuzz.txt", edits);
    uint32_t count = 0;
    if (!wpd_valid(table, count)) return 0;
    const size_t before = table.size();
    Wpd_Record strings = wpd_entry(table, count, "!!string");
    std::string messages;
    for (const auto& [path, list] : edits)
        for (const Mod_Edit& e : list) mod_apply_edit(table, count, strings, e, messages);
    if (table.size() != before) std::abort();
    return 0;
}
