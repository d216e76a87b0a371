// Reads an 8-bit RGBA or RGB PNG (not interlaced) into RGBA8 pixels, for
// tests that look at screenshots. Empty (width 0) when the file is not one.
#pragma once
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/kt_system/fs.h"

struct Png_Image {
    int width = 0, height = 0;
    std::vector<uint8_t> rgba;
    // 0xRRGGBB of a pixel.
    uint32_t rgb(int x, int y) const {
        const uint8_t* p = &rgba[(size_t(y) * size_t(width) + size_t(x)) * 4];
        return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
    }
};

inline Png_Image png_read(const std::string& path) {
    Png_Image out;
    std::string f;
    if (!fs_read(path, f) || f.size() < 8 || f.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0) return out;
    auto be32 = [&](size_t at) {
        return uint32_t(uint8_t(f[at])) << 24 | uint32_t(uint8_t(f[at + 1])) << 16 | uint32_t(uint8_t(f[at + 2])) << 8 |
               uint32_t(uint8_t(f[at + 3]));
    };
    uint32_t w = 0, h = 0;
    int channels = 0;
    std::string idat;
    for (size_t at = 8; at + 12 <= f.size();) {
        uint32_t len = be32(at);
        std::string type = f.substr(at + 4, 4);
        if (at + 12 + len > f.size()) return out;
        if (type == "IHDR" && len >= 13) {
            w = be32(at + 8);
            h = be32(at + 12);
            uint8_t depth = uint8_t(f[at + 16]), colour = uint8_t(f[at + 17]), interlace = uint8_t(f[at + 20]);
            if (depth != 8 || interlace != 0 || (colour != 6 && colour != 2)) return out;
            channels = colour == 6 ? 4 : 3;
        } else if (type == "IDAT") {
            idat += f.substr(at + 8, len);
        }
        at += 12 + len;
    }
    if (w == 0 || h == 0 || w > 16384 || h > 16384 || channels == 0) return out;
    size_t stride = size_t(w) * size_t(channels);
    std::vector<uint8_t> raw(size_t(h) * (stride + 1));
    uLongf raw_len = uLongf(raw.size());
    if (uncompress(raw.data(), &raw_len, reinterpret_cast<const Bytef*>(idat.data()), uLong(idat.size())) != Z_OK ||
        raw_len != raw.size()) {
        return out;
    }
    std::vector<uint8_t> prev(stride, 0), cur(stride);
    out.rgba.resize(size_t(w) * size_t(h) * 4);
    for (size_t y = 0; y < h; ++y) {
        const uint8_t* line = &raw[y * (stride + 1)];
        uint8_t filter = line[0];
        for (size_t i = 0; i < stride; ++i) {
            int a = i >= size_t(channels) ? cur[i - size_t(channels)] : 0;
            int b = prev[i];
            int c = i >= size_t(channels) ? prev[i - size_t(channels)] : 0;
            int x = line[1 + i], v = x;
            if (filter == 1) v = x + a;
            else if (filter == 2) v = x + b;
            else if (filter == 3) v = x + (a + b) / 2;
            else if (filter == 4) {
                int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
                v = x + (pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
            }
            cur[i] = uint8_t(v);
        }
        for (size_t px = 0; px < w; ++px) {
            uint8_t* d = &out.rgba[(y * w + px) * 4];
            for (int k = 0; k < channels; ++k) d[k] = cur[px * size_t(channels) + size_t(k)];
            if (channels == 3) d[3] = 255;
        }
        prev.swap(cur);
    }
    out.width = int(w);
    out.height = int(h);
    return out;
}
