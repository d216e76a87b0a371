// Where the data folder lands for each state of the environment, and the
// small path operations every subsystem uses.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/kt_system/env.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/core/paths.h"
#include "tests/support/temp_dir.h"

namespace {

// Sets or unsets variables for one test and puts the old values back.
struct Env_Scope {
    struct Saved { std::string name, value; bool was_set; };
    std::vector<Saved> saved;
    void set(const std::string& name, const char* value) {
        saved.push_back({name, env_get(name), env_is_set(name)});
        if (value) env_set(name, value);
        else env_set(name, "", true);
    }
    ~Env_Scope() {
        for (auto it = saved.rbegin(); it != saved.rend(); ++it) env_set(it->name, it->value, !it->was_set);
    }
};

struct Case {
    const char* what;
    const char* local_app_data;   // nullptr: unset; "@" stands for the temp folder
    const char* xdg_data_home;
    const char* home;
    const char* expected;         // "@" stands for the temp folder
};

std::string fill(const char* text, const std::string& tmp) {
    std::string s = text;
    if (!s.empty() && s[0] == '@') s = tmp + s.substr(1);
    return s;
}

}  // namespace

TEST(Paths, DataFolderFollowsTheEnvironment) {
    std::vector<Case> cases = {
        {"LOCALAPPDATA names a folder", "@", nullptr, nullptr, "@"},
        {"LOCALAPPDATA with a trailing separator", "@/", nullptr, nullptr, "@"},
#ifdef _WIN32
        {"LOCALAPPDATA empty", "", nullptr, nullptr, "."},
        {"LOCALAPPDATA unset", nullptr, nullptr, nullptr, "."},
#else
        // Linux stand-ins: a Linux user expects the XDG data folder.
        {"LOCALAPPDATA empty, XDG_DATA_HOME set", "", "@", "/nonexistent-home", "@"},
        {"LOCALAPPDATA unset, only HOME", nullptr, nullptr, "@", "@/.local/share"},
        {"nothing set at all", nullptr, nullptr, nullptr, "."},
#endif
    };
    for (const Case& c : cases) {
        Temp_Dir tmp;
        Env_Scope env;
        env.set("LOCALAPPDATA", c.local_app_data ? fill(c.local_app_data, tmp.path).c_str() : nullptr);
        env.set("XDG_DATA_HOME", c.xdg_data_home ? fill(c.xdg_data_home, tmp.path).c_str() : nullptr);
        env.set("HOME", c.home ? fill(c.home, tmp.path).c_str() : nullptr);
        paths_init();
        std::string expected = path_join({fill(c.expected, tmp.path), "efsg-launcher"});
        EXPECT_EQ(data_dir(), expected) << c.what;
        EXPECT_TRUE(fs_is_dir(data_dir())) << c.what << ": the folder is made";
        EXPECT_FALSE(file_exists(data_dir())) << c.what << ": a folder is not a file";
        if (expected == "efsg-launcher") fs_remove_tree(expected);   // made in the current folder
    }
}

TEST(Paths, DataPathJoinsAndCleans) {
    Temp_Dir tmp;
    Env_Scope env;
    env.set("LOCALAPPDATA", tmp.path.c_str());
    paths_init();
    const std::string sep(1, path_separator);
    EXPECT_EQ(data_path({"obj", "link.rsp"}), data_dir() + sep + "obj" + sep + "link.rsp");
    EXPECT_EQ(data_path({"obj/", "./link.rsp"}), data_dir() + sep + "obj" + sep + "link.rsp");
    EXPECT_EQ(data_path({}), data_dir());

    std::string settings = data_path({"settings.txt"});
    EXPECT_FALSE(file_exists(settings));
    ASSERT_TRUE(fs_write(settings, "settings_version 4\n"));
    EXPECT_TRUE(file_exists(settings));
}

TEST(Paths, ExeDirIsTheProgramsFolder) {
    std::string exe = exe_path();
    ASSERT_FALSE(exe.empty());
    EXPECT_EQ(exe_dir(), path_dir(exe));
    EXPECT_TRUE(fs_is_dir(exe_dir()));
}
