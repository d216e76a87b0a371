// The Linux window back end against a real X server: window_demo runs under
// Xvfb (started by scripts/with_xvfb.sh) and xdotool types, clicks and
// resizes; the demo's printed lines must show exactly that input.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "engine/kt_system/child.h"
#include "engine/kt_system/clock.h"
#include "engine/kt_system/env.h"
#include "tests/support/run_program.h"

namespace {

// Runs a program to its end (at most 20 s) and takes its output.
Program_Run run(const std::vector<std::string>& args) { return run_program(args, 20'000); }

std::string trimmed(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
    return s;
}

// One window_demo with its window found and focused.
struct Demo {
    Child* child = nullptr;
    std::string id;            // the X window id
    std::vector<std::string> lines;
    std::string partial;

    explicit Demo(const std::string& title) {
        std::string err;
        child = child_start({QM_WINDOW_DEMO, "--frames", "0", "--sleep-ms", "5", "--title", title}, "", nullptr, &err);
        if (!child) {
            ADD_FAILURE() << "window_demo did not start: " << err;
            return;
        }
        if (!wait_for([](const std::string& l) { return l.rfind("ready", 0) == 0; })) {
            ADD_FAILURE() << "window_demo never said ready";
            return;
        }
        Program_Run found = run({"xdotool", "search", "--sync", "--name", "^" + title + "$"});
        id = trimmed(found.out);
        EXPECT_FALSE(id.empty()) << "no window named " << title;
        EXPECT_EQ(run({"xdotool", "windowfocus", "--sync", id}).code, 0u);
        wait_for([](const std::string& l) { return l.find("focus_gained") != std::string::npos; });
    }
    ~Demo() {
        if (child) {
            child_terminate(child, 0);
            uint32_t code;
            child_wait(child, 5000, code);
            child_close(child);
        }
    }

    // Reads lines until one satisfies `match` (true) or 10 s pass (false).
    template <typename Match>
    bool wait_for(Match match, int64_t wait_ns = 10'000'000'000) {
        for (const std::string& l : lines) {
            if (match(l)) return true;
        }
        int64_t deadline = clock_ns() + wait_ns;
        char buf[4096];
        while (child && clock_ns() < deadline) {
            if (!child_look(child, 50)) continue;
            int64_t n = child_read(child, buf, sizeof buf);
            if (n <= 0) return false;
            partial.append(buf, size_t(n));
            size_t nl;
            bool hit = false;
            while ((nl = partial.find('\n')) != std::string::npos) {
                lines.push_back(partial.substr(0, nl));
                partial.erase(0, nl + 1);
                if (match(lines.back())) hit = true;
            }
            if (hit) return true;
        }
        return false;
    }
    bool saw(const std::string& token) {
        return wait_for([&](const std::string& l) { return (l + " ").find(" " + token + " ") != std::string::npos; });
    }
    // The text of every text= item, in order.
    std::string typed() const {
        std::string all;
        for (const std::string& l : lines) {
            size_t p = l.find(" text=\"");
            if (p == std::string::npos) continue;
            size_t end = l.find('"', p + 7);
            all += l.substr(p + 7, end - p - 7);
        }
        return all;
    }
    int count(const std::string& what) const {
        int n = 0;
        for (const std::string& l : lines) n += l.find(what) != std::string::npos;
        return n;
    }
};

std::string unique_title(const char* what) {
    static int n = 0;
    return std::string("qm window test ") + what + " " + std::to_string(n++);
}

TEST(WindowX11, KeyPressAndRelease) {
    Demo d(unique_title("key"));
    ASSERT_FALSE(d.id.empty());
    ASSERT_EQ(run({"xdotool", "key", "--delay", "50", "a", "shift+Right", "KP_Enter"}).code, 0u);
    EXPECT_TRUE(d.saw("press=A"));
    EXPECT_TRUE(d.saw("release=A"));
    EXPECT_TRUE(d.saw("press=Right"));
    EXPECT_TRUE(d.wait_for([](const std::string& l) { return l.find("Left_Shift") != std::string::npos; }));
    EXPECT_TRUE(d.saw("press=Kp_Enter"));
    EXPECT_TRUE(d.saw("release=Kp_Enter"));
}

TEST(WindowX11, TypedTextArrivesAsCodePoints) {
    Demo d(unique_title("type"));
    ASSERT_FALSE(d.id.empty());
    // xdotool maps "é" onto a spare key code for the moment of its key
    // press and then back: the pause leaves the demo time to read it.
    ASSERT_EQ(run({"xdotool", "type", "--delay", "250", "h\xC3\xA9llo"}).code, 0u);
    d.wait_for([&](const std::string&) { return d.typed().size() >= 6; });
    EXPECT_EQ(d.typed(), "h\xC3\xA9llo");
}

TEST(WindowX11, ClickAndWheelAtAKnownPoint) {
    Demo d(unique_title("click"));
    ASSERT_FALSE(d.id.empty());
    ASSERT_EQ(run({"xdotool", "mousemove", "--sync", "--window", d.id, "100", "50"}).code, 0u);
    EXPECT_TRUE(d.wait_for([](const std::string& l) { return l.find("mouse=100,50") != std::string::npos; }));
    ASSERT_EQ(run({"xdotool", "click", "1", "click", "3", "click", "5"}).code, 0u);
    EXPECT_TRUE(d.saw("click=Left"));
    EXPECT_TRUE(d.saw("unclick=Left"));
    EXPECT_TRUE(d.saw("click=Right"));
    EXPECT_TRUE(d.saw("wheel=0,-1")) << "one notch down is -1, as on Windows";
}

TEST(WindowX11, ResizeSetsOneResizeBit) {
    Demo d(unique_title("resize"));
    ASSERT_FALSE(d.id.empty());
    ASSERT_EQ(run({"xdotool", "windowsize", "--sync", d.id, "500", "400"}).code, 0u);
    EXPECT_TRUE(d.saw("size=500x400"));
    // Nothing further arrives for the same resize.
    d.wait_for([](const std::string&) { return false; }, 300'000'000);
    EXPECT_EQ(d.count("resized"), 1);
}

}  // namespace

// Skipped as a whole (exit 77) without an X display or xdotool.
int main(int argc, char** argv) {
    if (env_get("DISPLAY").empty()) {
        std::printf("skipped: no X display\n");
        return 77;
    }
    if (!run({"xdotool", "version"}).started) {
        std::printf("skipped: xdotool is not installed\n");
        return 77;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
