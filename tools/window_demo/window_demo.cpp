// window_demo: opens one window through the engine's window layer, runs the
// frame loop (pump, change bits, input update) and prints one line for every
// frame in which something changed, e.g.
//   frame 12 press=A release=A text="hé" mouse=120,80 click=Left wheel=0,1 changes=resized size=640x480
// It ends after --frames frames (0 = no limit) or when the window is asked
// to close, printing "closed" then. With --cpu it ends with the CPU time it
// used from its first frame on, as a share of one core:
//   cpu 52 ms in 10013 ms: 0.52% of one core
//
//   window_demo [--frames N] [--sleep-ms MS] [--size WxH] [--borderless] [--title TEXT] [--cpu]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/kt_input/state.h"
#include "engine/kt_system/clock.h"
#include "engine/kt_system/window.h"

namespace {

const char* const named_keys[] = {
    "Escape", "Enter", "Tab", "Space", "Backspace", "Delete", "Insert", "Home", "End", "Page_Up", "Page_Down",
    "Left", "Right", "Up", "Down", "Left_Shift", "Right_Shift", "Left_Ctrl", "Right_Ctrl", "Left_Alt",
    "Right_Alt", "Left_Super", "Right_Super", "Caps_Lock", "Scroll_Lock", "Num_Lock", "Print_Screen", "Pause",
    "Menu", "Apostrophe", "Comma", "Minus", "Period", "Slash", "Semicolon", "Equal", "Left_Bracket", "Backslash",
    "Right_Bracket", "Grave", "Kp_0", "Kp_1", "Kp_2", "Kp_3", "Kp_4", "Kp_5", "Kp_6", "Kp_7", "Kp_8", "Kp_9",
    "Kp_Decimal", "Kp_Divide", "Kp_Multiply", "Kp_Subtract", "Kp_Add", "Kp_Enter", "Kp_Equal",
};
static_assert(sizeof named_keys / sizeof named_keys[0] == key_count - int(Key::Escape));

std::string key_label(int k) {
    if (k >= int(Key::A) && k <= int(Key::Z)) return std::string(1, char('A' + k - int(Key::A)));
    if (k >= int(Key::Num_0) && k <= int(Key::Num_9)) return std::string(1, char('0' + k - int(Key::Num_0)));
    if (k >= int(Key::F1) && k <= int(Key::F24)) return "F" + std::to_string(k - int(Key::F1) + 1);
    if (k >= int(Key::Escape) && k < key_count) return named_keys[k - int(Key::Escape)];
    return "None";
}

const char* const mouse_labels[] = {"Left", "Right", "Middle", "Back", "Forward", "Extra"};
const char* const pad_labels[] = {"Face_Down", "Face_Right", "Face_Left", "Face_Up", "Dpad_Up", "Dpad_Down",
                                  "Dpad_Left", "Dpad_Right", "Left_Shoulder", "Right_Shoulder", "Left_Trigger",
                                  "Right_Trigger", "Back", "Guide", "Start", "Left_Stick", "Right_Stick"};
const char* const change_labels[] = {"close", "resized", "focus_gained", "focus_lost", "minimised", "restored", "dpi"};

// " name=a,b" for the entries whose state byte has `bit`; nothing when none.
template <typename Label>
void list_bits(std::string& line, const char* name, const uint8_t* bytes, int count, uint8_t bit, Label label) {
    std::string items;
    for (int i = 0; i < count; ++i) {
        if (!(bytes[i] & bit)) continue;
        if (!items.empty()) items += ',';
        items += label(i);
    }
    if (!items.empty()) line += std::string(" ") + name + "=" + items;
}

std::string utf8(const int32_t* cps, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) {
        uint32_t c = uint32_t(cps[i]);
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += char(0xE0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xF0 | (c >> 18));
            out += char(0x80 | ((c >> 12) & 0x3F));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::string num(float v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", double(v));
    return buf;
}

int usage() {
    std::fprintf(stderr,
                 "usage: window_demo [--frames N] [--sleep-ms MS] [--size WxH] [--borderless] [--title TEXT] [--cpu]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    long frames = 0, sleep_ms_per_frame = 16;
    bool report_cpu = false;
    Window_Desc desc;
    desc.title = "window_demo";
    desc.width = 640;
    desc.height = 480;
    desc.has_bg = true;
    desc.bg_r = 0x20;
    desc.bg_g = 0x60;
    desc.bg_b = 0xB0;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        bool has_value = i + 1 < argc;
        if (a == "--frames" && has_value) {
            frames = std::strtol(argv[++i], nullptr, 10);
        } else if (a == "--sleep-ms" && has_value) {
            sleep_ms_per_frame = std::strtol(argv[++i], nullptr, 10);
        } else if (a == "--size" && has_value) {
            if (std::sscanf(argv[++i], "%dx%d", &desc.width, &desc.height) != 2) return usage();
        } else if (a == "--cpu") {
            report_cpu = true;
        } else if (a == "--borderless") {
            desc.flags |= window_borderless;
        } else if (a == "--title" && has_value) {
            desc.title = argv[++i];
        } else {
            return usage();
        }
    }

    static Window w;
    std::string err;
    if (!make_window(w, desc, nullptr, nullptr, &err)) {
        std::fprintf(stderr, "window_demo: %s\n", err.c_str());
        return 1;
    }
    std::printf("ready %dx%d scale %s\n", w.width, w.height, num(w.dpi_scale).c_str());
    std::fflush(stdout);

    static Input_State s{};
    Pad_Poll pads;
    bool connected[pad_count] = {};
    bool shown_known = false;   // the pointer position last printed
    float shown_x = 0, shown_y = 0;
    int64_t cpu_start = process_cpu_ns(), wall_start = clock_ns();
    for (long frame = 1; frames == 0 || frame <= frames; ++frame) {
        window_pump();
        uint8_t changes = window_take_changes(w);
        input_update(w, s, pads);

        std::string line;
        list_bits(line, "press", s.keys, key_count, input_pressed, key_label);
        list_bits(line, "release", s.keys, key_count, input_released, key_label);
        list_bits(line, "repeat", s.keys, key_count, input_repeated, key_label);
        if (s.text_count) line += " text=\"" + utf8(s.text, s.text_count) + "\"";
        if (s.mouse_known && (!shown_known || s.mouse_x != shown_x || s.mouse_y != shown_y)) {
            line += " mouse=" + num(s.mouse_x) + "," + num(s.mouse_y);
            shown_x = s.mouse_x;
            shown_y = s.mouse_y;
        }
        shown_known = s.mouse_known;
        auto mouse_label = [](int i) { return std::string(mouse_labels[i]); };
        list_bits(line, "click", s.mouse_buttons, mouse_button_count, input_pressed, mouse_label);
        list_bits(line, "unclick", s.mouse_buttons, mouse_button_count, input_released, mouse_label);
        if (s.wheel_x != 0 || s.wheel_y != 0) line += " wheel=" + num(s.wheel_x) + "," + num(s.wheel_y);
        for (int p = 0; p < pad_count; ++p) {
            if (s.pad_connected[p] != connected[p]) {
                connected[p] = s.pad_connected[p];
                line += " pad" + std::to_string(p) + (connected[p] ? "=connected" : "=disconnected");
            }
            std::string name = "pad" + std::to_string(p);
            auto pad_label = [](int i) { return std::string(pad_labels[i]); };
            list_bits(line, (name + "_press").c_str(), s.pad_buttons[p], gamepad_button_count, input_pressed, pad_label);
            list_bits(line, (name + "_release").c_str(), s.pad_buttons[p], gamepad_button_count, input_released,
                      pad_label);
        }
        if (changes) {
            std::string names;
            for (int b = 0; b < 7; ++b) {
                if (!(changes & (1 << b))) continue;
                if (!names.empty()) names += ',';
                names += change_labels[b];
            }
            line += " changes=" + names;
            if (changes & change_resized) line += " size=" + std::to_string(w.width) + "x" + std::to_string(w.height);
            if (changes & change_dpi) line += " scale=" + num(w.dpi_scale);
        }
        if (!line.empty()) {
            std::printf("frame %ld%s\n", frame, line.c_str());
            std::fflush(stdout);
        }
        if (w.close_requested) {
            std::printf("closed\n");
            break;
        }
        sleep_ms(sleep_ms_per_frame);
    }
    if (report_cpu) {
        double cpu_ms = double(process_cpu_ns() - cpu_start) / 1e6;
        double wall_ms = double(clock_ns() - wall_start) / 1e6;
        std::printf("cpu %.0f ms in %.0f ms: %.2f%% of one core\n", cpu_ms, wall_ms,
                    wall_ms > 0 ? 100.0 * cpu_ms / wall_ms : 0.0);
    }
    std::fflush(stdout);
    destroy_window(w);
    return 0;
}
