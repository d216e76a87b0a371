// The bundle the build packs into the program: it opens, has the layout the
// reader's callers rely on, holds every file of the packed tree with the
// same bytes, and unpacks again.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/core/bundle.h"
#include "launcher/core/bundle_data.h"
#include "launcher/core/task.h"
#include "tests/core/bundle/bundle_layout.h"
#include "tests/support/temp_dir.h"

namespace {

std::string host_path(std::string p) {
#ifdef _WIN32
    if (!p.empty() && p[0] == '/') p = "Z:" + p;
#endif
    return p;
}

// Every file under root, as bundle names.
void list_tree(const std::string& root, const std::string& rel, std::vector<std::string>& out) {
    std::vector<Dir_Entry> items;
    ASSERT_TRUE(fs_list(path_join({root, rel}), items));
    for (const Dir_Entry& item : items) {
        std::string name = rel.empty() ? item.name : rel + "/" + item.name;
        if (item.is_dir) {
            list_tree(root, name, out);
        } else if (!(rel.empty() && (item.name == "CMakeLists.txt" || item.name == "build.cmake"))) {
            out.push_back(name);
        }
    }
}

TEST(Embedded_Bundle, holds_the_packed_tree_with_the_expected_layout) {
    std::string_view bytes = embedded_bundle();
    ASSERT_GE(bytes.size(), 16u);
    EXPECT_EQ(bytes.substr(0, 8), "EFBUNDL2");
    ASSERT_EQ(bundle_layout_fault(bytes), "");
    EXPECT_EQ(bundle_bytes().data(), bytes.data());

    // Every top folder the launcher unpacks from has something in it.
    for (const char* top : {"gen/", "runtime/", "include/", "ffmpeg/", "vulkan/", "pgo/", "sdl2/", "appimage/",
                            "cross/", "tools/"}) {
        bool found = false;
        for (const Bundle_Entry& e : bundle_entries) found = found || e.name.substr(0, std::string_view(top).size()) == top;
        EXPECT_TRUE(found) << top;
    }

    std::string tree = host_path(QM_BUNDLE_TREE);
    std::vector<std::string> names;
    list_tree(tree, "", names);
    ASSERT_FALSE(names.empty());
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        std::string expected, got;
        ASSERT_TRUE(fs_read(path_join({tree, name}), expected));
        ASSERT_TRUE(bundle_read(name, got));
        EXPECT_TRUE(got == expected);
    }
}

TEST(Embedded_Bundle, unpacks_whole_and_then_writes_nothing) {
    ASSERT_TRUE(bundle_open(embedded_bundle()));
    Temp_Dir tmp;
    std::string dest = path_join({tmp.path, "src"});
    Task task;
    int count = bundle_extract(task, dest, {""});
    EXPECT_EQ(count, int(bundle_entries.size()));
    for (const Bundle_Entry& e : bundle_entries) {
        std::string expected, got;
        ASSERT_TRUE(bundle_read(e.name, expected));
        ASSERT_TRUE(fs_read(path_join({dest, e.name}), got)) << e.name;
        EXPECT_TRUE(got == expected) << e.name;
    }
    EXPECT_EQ(bundle_extract(task, dest, {""}), 0);
    bundle_prune(task, dest, {"gen/", "runtime/"});
    EXPECT_TRUE(task_view(task).log.empty());
}

}  // namespace
