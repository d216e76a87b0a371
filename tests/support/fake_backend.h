// A backend for tests that keeps textures in memory: create and update
// succeed (unless told to fail) and read-back returns the pixels, so text
// metrics are real and atlases can be looked at. Its render slot paints the
// draw list's axis-aligned quads into an RGBA frame (nearest sampling,
// straight alpha over), so a laid-out line can be written out as a picture.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "engine/kt_render/renderer.h"

struct Fake_Texture {
    int width = 0, height = 0;
    Pixel_Format format = Pixel_Format::RGBA8;
    uint8_t flags = 0;
    std::vector<uint8_t> pixels;
};

struct Fake_State {
    Handle_Pool<Fake_Texture> textures;
    Handle_Pool<Shader_Desc> shaders;
    bool fail_updates = false;
    int updates = 0;           // successful update_texture calls
    int textures_destroyed = 0;
    int shaders_destroyed = 0;
    int renders = 0;       // render calls
    int skip_frames = 0;   // the next so many renders present nothing
    // The last rendered frame, RGBA8, frame_size of the draw list.
    int frame_width = 0, frame_height = 0;
    std::vector<uint8_t> frame;
};

// Fills the nine slots over a new state; the destroy slot frees it.
Backend fake_backend_make();
Fake_State& fake_state(Backend& b);

// Writes RGBA8 or R8 pixels as a PNG file; false when it cannot be written.
bool write_png(const std::string& path, int width, int height, int channels, const uint8_t* pixels);
