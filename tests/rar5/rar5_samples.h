// Game-like sample contents for the RAR5 tests and the benchmark: source
// text, x86 code with calls and jumps (E8 / E9), ARM code with BL words,
// an RGB image (for the delta filter), noise and long runs.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "tests/rar5/rar5_test_writer.h"

namespace rar5_samples {

inline uint32_t next_random(uint32_t& seed) {
    seed ^= seed << 13;
    seed ^= seed >> 17;
    seed ^= seed << 5;
    return seed;
}

inline std::string text(size_t size, uint32_t seed = 0x9E3779B9u) {
    static const char* words[] = {"int ", "return ", "zqr_state ", "s->frame ", "+= ", "0x", "if (", ") {\n",
                                  "}\n", "ember_draw(", "saga_", "1;\n", "/* tile */ ", "for (i = 0; i < n; i++) "};
    std::string t;
    while (t.size() < size) t += words[next_random(seed) % 14];
    t.resize(size);
    return t;
}

inline std::string noise(size_t size, uint32_t seed = 12345) {
    std::string s(size, '\0');
    for (char& c : s) c = char(next_random(seed));
    return s;
}

// x86-like code: short opcode runs, and calls / jumps to a few hundred
// targets written as relative addresses (which the E8 filters make absolute).
inline std::string x86(size_t size, uint32_t seed = 777) {
    std::string s;
    const char* ops[] = {"\x55\x48\x89\xE5", "\x48\x83\xEC\x20", "\x8B\x45\xFC", "\x89\xC7", "\x5D\xC3", "\x31\xC0"};
    while (s.size() + 5 < size) {
        uint32_t r = next_random(seed);
        if (r % 4 == 0) {
            int32_t target = int32_t((r >> 8) % 300) * 64;
            int32_t rel = target - int32_t(s.size() + 5);
            s.push_back(char(r % 8 == 0 ? 0xE9 : 0xE8));
            for (int k = 0; k < 4; k++) s.push_back(char(uint8_t(uint32_t(rel) >> (8 * k))));
        } else {
            s += ops[r % 6];
        }
    }
    s.resize(size, '\x90');
    return s;
}

// ARM-like code: 32-bit words, BL instructions (top byte 0xEB) to a few
// hundred targets written as relative word offsets.
inline std::string arm(size_t size, uint32_t seed = 4242) {
    std::string s;
    while (s.size() + 4 <= size) {
        uint32_t r = next_random(seed);
        uint32_t w;
        if (r % 3 == 0) {
            uint32_t target = (r >> 8) % 200 * 16;
            w = 0xEB000000u | ((target - uint32_t(s.size() / 4)) & 0xFFFFFF);
        } else {
            w = 0xE1A00000u | (r % 16) << 12 | (r >> 20) % 16;
        }
        for (int k = 0; k < 4; k++) s.push_back(char(uint8_t(w >> (8 * k))));
    }
    s.resize(size, '\0');
    return s;
}

// An RGB image with smooth gradients: 3 channels.
inline std::string rgb(size_t width, size_t height) {
    std::string s;
    s.reserve(width * height * 3);
    for (size_t y = 0; y < height; y++) {
        for (size_t x = 0; x < width; x++) {
            s.push_back(char(x + y));
            s.push_back(char(x * 2 + (y >> 3)));
            s.push_back(char(y * 3 + (x >> 4)));
        }
    }
    return s;
}

// The archives every reader must agree on. Filters end a little before the
// end of their entry (unar fails on an E8 filter that reaches the very end).
struct Fixture {
    std::string name;
    std::vector<rar5_writer::Entry> entries;
};

inline std::vector<Fixture> fixtures() {
    using rar5_writer::Entry;
    std::vector<Fixture> v;
    auto entry = [](std::string name, std::string content, int method = 3) {
        Entry e;
        e.name = std::move(name);
        e.content = std::move(content);
        e.method = method;
        return e;
    };
    {
        Fixture f{"methods.rar", {}};
        for (int m = 0; m <= 5; m++) f.entries.push_back(entry("method" + std::to_string(m) + ".c", text(40000 + 1000 * size_t(m), uint32_t(m + 1)), m));
        Entry dir = entry("assets", "");
        dir.directory = true;
        f.entries.push_back(dir);
        f.entries.push_back(entry("assets/fonts/gui.txt", text(3000)));
        f.entries.push_back(entry("empty.txt", ""));
        f.entries.push_back(entry("\u00e9t\u00e9/\u540d\u524d \u30c6\u30b9\u30c8.txt", text(2000, 7)));
        f.entries.push_back(entry("one.bin", "x"));
        v.push_back(f);
    }
    {
        Fixture f{"e8.rar", {entry("game.exe", x86(300000))}};
        f.entries[0].options.filters = {{0, 250000, 1, 1}};
        v.push_back(f);
    }
    {
        Fixture f{"e8e9.rar", {entry("game.dll", x86(300000, 99))}};
        f.entries[0].options.filters = {{1000, 149000, 2, 1}, {150000, 140000, 2, 1}};
        v.push_back(f);
    }
    {
        std::string image = rgb(200, 150);
        Fixture f{"delta.rar", {entry("texture.rgb", image)}};
        f.entries[0].options.filters = {{0, image.size() - 7, 0, 3}};
        v.push_back(f);
    }
    {
        Fixture f{"arm.rar", {entry("libgame.so", arm(200000))}};
        f.entries[0].options.filters = {{0, 200000 - 64, 3, 1}};
        v.push_back(f);
    }
    {
        Fixture f{"multiblock.rar", {entry("big.c", text(300000, 5) + noise(50000))}};
        f.entries[0].options.block_tokens = 997;
        f.entries[0].options.blocks_per_table = 4;
        v.push_back(f);
    }
    {
        std::string n = noise(300000, 8);
        std::string runs = std::string(100000, '\0') + n + text(20000) + n + std::string(5000, 'a');
        for (int i = 0; i < 3000; i++) runs += "ab"[i % 2];
        Fixture f{"runs.rar", {entry("save.dat", runs)}};
        v.push_back(f);
    }
    {
        Fixture f{"literals.rar", {entry("noise.bin", noise(70000, 3))}};
        f.entries[0].options.matches = false;
        v.push_back(f);
    }
    return v;
}

// An entry many times larger than the dictionary it declares (512 KiB),
// with filters far into it: the decoder's window moves down many times
// before it ends.
inline Fixture window_fixture() {
    rar5_writer::Entry e;
    e.name = "textures/large.bin";
    e.content = text(10 << 20, 3) + x86(600000, 5) + text(2 << 20, 4);
    e.options.window = 256 << 10;
    e.options.chain = 4;
    size_t code = size_t(10) << 20;
    e.options.filters = {{code, 200000, 1, 1}, {code + 300000, 200000, 2, 1}};
    return Fixture{"window.rar", {e}};
}

}  // namespace rar5_samples
