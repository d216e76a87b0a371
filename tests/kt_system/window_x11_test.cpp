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
#include "engine/kt_system/utf.h"
#include "tests/support/run_program.h"

namespace {

// Every wait below is for an event and ends as soon as it comes; the limit
// only guards against a hang, and is long enough for a very busy machine.
constexpr int64_t hang_guard_ms = 600'000;

// Runs a program to its end and takes its output.
Program_Run run(const std::vector<std::string>& args) { return run_program(args, hang_guard_ms); }

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
        EXPECT_TRUE(wait_for([](const std::string& l) { return l.find("focus_gained") != std::string::npos; }))
            << "window_demo never gained the focus";
    }
    ~Demo() {
        if (child) {
            child_terminate(child, 0);
            uint32_t code;
            child_wait(child, hang_guard_ms, code);
            child_close(child);
        }
    }

    // Reads lines until one satisfies `match` (true), or the demo ends or
    // the hang guard runs out (false).
    template <typename Match>
    bool wait_for(Match match) {
        for (const std::string& l : lines) {
            if (match(l)) return true;
        }
        const int64_t deadline = clock_ns() + hang_guard_ms * 1'000'000;
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
    // Waits for an item such as "press=A" or "wheel=0,-1". On a busy machine
    // several keys or buttons can come in one frame, "press=A,Right": a
    // single name is also found in such a list.
    bool saw(const std::string& token) {
        return wait_for([&](const std::string& l) { return has_item(l, token); });
    }
    static bool has_item(const std::string& line, const std::string& token) {
        const std::string padded = line + " ";
        if (padded.find(" " + token + " ") != std::string::npos) return true;
        const size_t eq = token.find('=');
        if (eq == std::string::npos || token.find(',') != std::string::npos) return false;
        const std::string name = " " + token.substr(0, eq + 1);
        for (size_t at = padded.find(name); at != std::string::npos; at = padded.find(name, at + 1)) {
            const size_t from = at + name.size();
            const std::string list = "," + padded.substr(from, padded.find(' ', from) - from) + ",";
            if (list.find("," + token.substr(eq + 1) + ",") != std::string::npos) return true;
        }
        return false;
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
    // The US keyboard of Xvfb has no "é": it is put on a spare key code for
    // good before the window opens, so that the window reads one keyboard
    // mapping throughout and xdotool presses a key that is there.
    Program_Run bound = run({"python3", QM_BIND_KEYSYMS, "eacute"});
    ASSERT_EQ(bound.code, 0u) << bound.out;
    Demo d(unique_title("type"));
    ASSERT_FALSE(d.id.empty());
    ASSERT_EQ(run({"xdotool", "key", "h", "eacute", "l", "l", "o"}).code, 0u);
    // The text of a key comes with its press: by the last key's release all
    // of it has arrived.
    EXPECT_TRUE(d.saw("release=O"));
    std::u16string text = utf16_from_utf8(d.typed());
    EXPECT_EQ(std::vector<int>(text.begin(), text.end()), (std::vector<int>{0x68, 0xE9, 0x6C, 0x6C, 0x6F}))
        << d.typed();
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
    // Nothing further arrives for the same resize: a key pressed after it
    // comes after everything the resize sent.
    ASSERT_EQ(run({"xdotool", "key", "z"}).code, 0u);
    EXPECT_TRUE(d.saw("release=Z"));
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
