#include "engine/kt_system/env.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"

namespace {

// Puts a variable back as it was when the test ends.
struct Saved_Var {
    std::string name;
    bool was_set;
    std::string value;
    explicit Saved_Var(std::string n) : name(std::move(n)), was_set(env_is_set(name)), value(env_get(name)) {}
    ~Saved_Var() { env_set(name, value, !was_set); }
};

// nullopt: unset; otherwise the value (possibly empty).
void put(const std::string& name, const std::optional<std::string>& value) {
    if (value) {
        env_set(name, *value);
    } else {
        env_set(name, "", true);
    }
}

TEST(Env, SetGetAndUnsetKeepUtf8Values) {
    Saved_Var saved("QM_TEST_VARIABLE");
    const std::string value = "\xC3\x9Cn\xC3\xAF" "c\xC3\xB8" "d\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC = x";
    env_set(saved.name, value);
    EXPECT_TRUE(env_is_set(saved.name));
    EXPECT_EQ(env_get(saved.name), value);
    std::vector<std::string> all = env_all();
    EXPECT_NE(std::find(all.begin(), all.end(), saved.name + "=" + value), all.end());

    env_set(saved.name, "");
    EXPECT_TRUE(env_is_set(saved.name));
    EXPECT_EQ(env_get(saved.name), "");

    env_set(saved.name, "", true);
    EXPECT_FALSE(env_is_set(saved.name));
    EXPECT_EQ(env_get(saved.name), "");
    all = env_all();
    for (const std::string& e : all) EXPECT_NE(e.rfind(saved.name + "=", 0), 0u) << e;
}

TEST(Env, LocalAppDataFollowsTheEnvironment) {
    Saved_Var local("LOCALAPPDATA"), xdg("XDG_DATA_HOME"), home("HOME");
    struct Case {
        std::optional<std::string> local, xdg, home;
        std::string want;
    };
#ifdef _WIN32
    // Windows: the variable itself and nothing else.
    const Case cases[] = {
        {"C:\\Users\\p\\AppData\\Local", "C:\\xdg", "C:\\home", "C:\\Users\\p\\AppData\\Local"},
        {"", "C:\\xdg", "C:\\home", ""},
        {std::nullopt, "C:\\xdg", "C:\\home", ""},
    };
#else
    const Case cases[] = {
        {"/la", "/xdg", "/home/p", "/la"},
        {"", "/xdg", "/home/p", "/xdg"},
        {std::nullopt, "/xdg", "/home/p", "/xdg"},
        {std::nullopt, "", "/home/p", "/home/p/.local/share"},
        {std::nullopt, std::nullopt, "/home/p", "/home/p/.local/share"},
        {"", std::nullopt, "/home/p/", "/home/p/.local/share"},
        {std::nullopt, std::nullopt, std::nullopt, ""},
    };
#endif
    for (const Case& c : cases) {
        put("LOCALAPPDATA", c.local);
        put("XDG_DATA_HOME", c.xdg);
        put("HOME", c.home);
        EXPECT_EQ(env_local_app_data(), c.want)
            << "LOCALAPPDATA=" << c.local.value_or("(unset)") << " XDG_DATA_HOME=" << c.xdg.value_or("(unset)")
            << " HOME=" << c.home.value_or("(unset)");
    }
}

TEST(Env, UserProfileIsThePlatformsHomeVariable) {
#ifdef _WIN32
    Saved_Var saved("USERPROFILE");
#else
    Saved_Var saved("HOME");
#endif
    env_set(saved.name, "/some/where");
    EXPECT_EQ(env_user_profile(), "/some/where");
}

TEST(Env, ExePathNamesThisProgram) {
    std::string exe = exe_path();
    ASSERT_FALSE(exe.empty());
    EXPECT_TRUE(path_is_absolute(exe)) << exe;
    File_Info info;
    ASSERT_TRUE(fs_stat(exe, info)) << exe;
    EXPECT_FALSE(info.is_dir);
    EXPECT_EQ(path_base(exe).rfind("test_kt_system", 0), 0u) << exe;
}

TEST(Env, CurrentDirIsAFolder) {
    std::string dir = current_dir();
    ASSERT_FALSE(dir.empty());
    EXPECT_TRUE(path_is_absolute(dir)) << dir;
    EXPECT_TRUE(fs_is_dir(dir)) << dir;
}

}  // namespace
