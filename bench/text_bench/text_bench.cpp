// Text layout at the interface's shape: a frame of 120 lines (Latin,
// Cyrillic, Japanese and Korean) laid out and measured again and again, as
// the interface does every frame. Times the first frame (every glyph is
// rasterised into the atlas) and the following ones (glyphs from the map),
// and prints glyphs per second.
//
//   text_bench [--frames N]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/kt_render/text.h"
#include "tests/support/fake_backend.h"

namespace {

using Clock = std::chrono::steady_clock;
double seconds_since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

const char* const lines[] = {
    "Build the game with the options chosen on this page",
    "Собрать игру с выбранными параметрами",
    "このページで選んだ設定でゲームをビルドする",
    "이 페이지에서 선택한 옵션으로 게임을 빌드합니다",
};

}  // namespace

int main(int argc, char** argv) {
    int frames = 500;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--frames") == 0) frames = std::atoi(argv[i + 1]);

    Renderer r;
    draw_list_init(r, fake_backend_make(), 1080, 760);
    Library lib;
    font_add_embedded(lib, "noto_sans_regular");
    const uint8_t order[4] = {0, 1, 2, 3};
    Font* font = font_create(lib, r, 1.0f, "noto_sans_regular", 14, order);
    if (!font) {
        std::fprintf(stderr, "text_bench: no font\n");
        return 1;
    }

    size_t glyphs = 0;
    auto frame = [&] {
        draw_list_begin_frame(r.draw_list, 0xFFF3F3F3);
        int width = 0;
        for (int i = 0; i < 120; ++i) {
            const char* line = lines[i % 4];
            width += measure_text(font, line);
            draw_text(r.draw_list, font, line, 10, 10 + (i % 40) * 18, 0xFF000000);
        }
        glyphs = r.draw_list.vertices.size() / 4;
        return width;
    };

    Clock::time_point t0 = Clock::now();
    int check = frame();
    double first = seconds_since(t0);
    t0 = Clock::now();
    for (int f = 0; f < frames; ++f) check += frame();
    double rest = seconds_since(t0) / frames;

    std::printf("text_bench: %zu glyph quads a frame, %zu distinct glyphs, %zu draw command(s)\n", glyphs,
                font->glyphs.size(), r.draw_list.commands.size());
    std::printf("first frame (rasterising): %8.2f ms\n", first * 1e3);
    std::printf("later frames:              %8.3f ms  (%.1f M glyphs/s, layout and measure)\n", rest * 1e3,
                double(glyphs) / rest / 1e6);
    std::printf("(checksum %d)\n", check);
    font_destroy(font);
    draw_list_destroy(r);
    return 0;
}
