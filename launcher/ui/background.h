// The window's background: a noise picture drawn at half size by the
// launcher's background shader, shrunk to a quarter and an eighth and
// blurred there, then stretched over the whole window. The blurred eighth
// is what the rounded-panel shader samples.
#pragma once
#include "engine/kt_render/font.h"
#include "engine/kt_render/renderer.h"

struct Background_Pass {
    Handle background_shader = 0;
    Handle panel_shader = 0;
    Handle blur_shader = 0;
    Handle half = 0, quarter_a = 0, quarter_b = 0, eighth_a = 0, eighth_b = 0;
    int width = 0, height = 0;   // the window size the targets were made for
    float drawn_scale = 0;       // the scale the targets' picture was drawn at
    // The backend's presented count as the chain was last drawn: the chain
    // is drawn again until a frame after that count was presented (a frame
    // the backend skipped never filled the targets).
    uint64_t drawn_before = 0;
};

struct Background_Shaders {
    Shader_Desc background;   // 12 uniform bytes, no texture
    Shader_Desc panel;        // 56 uniform bytes, one texture
    Shader_Desc blur;         // the "blur" post effect, registered in the library
};

// Start-up: makes the two launcher shaders and registers "blur" in the
// library. When any of the three is missing the ones made are destroyed
// and the effect stays off.
void background_start(Background_Pass& bg, Backend& backend, Library& lib, const Background_Shaders& shaders);
// True while the pass draws (its shaders exist).
bool background_on(const Background_Pass& bg);
// Draws the pass into the renderer's draw list (a frame already begun): the
// picture over the whole window. The targets follow the window size and are
// drawn again only when made anew (or at another scale), and until a frame
// holding that drawing was presented; when one cannot be made the effect is
// off for the rest of the run.
void background_draw(Background_Pass& bg, Renderer& r, float scale);
// Shut-down: the five targets, then the two launcher shaders.
void background_stop(Background_Pass& bg, Backend& backend);
