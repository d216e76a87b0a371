#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "launcher/core/startup_tables.h"

namespace {

// The registry form of an identifier, as the published values are written.
std::string registry_form(const Com_Guid& g) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", unsigned(g.data1),
                  unsigned(g.data2), unsigned(g.data3), g.data4[0], g.data4[1], g.data4[2], g.data4[3], g.data4[4],
                  g.data4[5], g.data4[6], g.data4[7]);
    return text;
}

TEST(StartupTables, ComIdentifiersArePublishedValues) {
    EXPECT_EQ(registry_form(clsid_file_open_dialog), "{DC1C5A9C-E88A-4DDE-A5A1-60F82A20AEF7}");
    EXPECT_EQ(registry_form(clsid_file_save_dialog), "{C0B4E2F3-BA21-4773-8DBA-335EC946EB8B}");
    EXPECT_EQ(registry_form(iid_file_open_dialog), "{D57C7288-D4AD-4768-BE02-9D969532D960}");
    EXPECT_EQ(registry_form(iid_file_save_dialog), "{84BCCD23-5FDE-4CDB-AEA4-AF64B83D78AB}");
    EXPECT_EQ(registry_form(iid_shell_item), "{43826D1E-E718-42EE-BC55-A1E261C37BFE}");

    // In memory the first three fields are little-endian, as the system reads them.
    const unsigned char binary[16] = {0x1E, 0x6D, 0x82, 0x43, 0x18, 0xE7, 0xEE, 0x42,
                                      0xBC, 0x55, 0xA1, 0xE2, 0x61, 0xC3, 0x7B, 0xFE};
    EXPECT_EQ(std::memcmp(&iid_shell_item, binary, 16), 0);

    EXPECT_TRUE(guid_equal(iid_shell_item, iid_shell_item));
    EXPECT_FALSE(guid_equal(clsid_file_open_dialog, clsid_file_save_dialog));
}

TEST(StartupTables, CursorIdentifiers) {
    EXPECT_EQ(cursor_id(Cursor_Kind::Arrow), 32512);
    EXPECT_EQ(cursor_id(Cursor_Kind::Ibeam), 32513);
    EXPECT_EQ(cursor_id(Cursor_Kind::Cross), 32515);
    EXPECT_EQ(cursor_id(Cursor_Kind::Size_We), 32644);
    EXPECT_EQ(cursor_id(Cursor_Kind::Hand), 32649);
}

}  // namespace
