/* The media libraries the game links with: FFmpeg everywhere, SDL2 on
   Windows, and the Vulkan headers it is built against. */
#include <stdio.h>

#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libswresample/swresample.h>
#include <vulkan/vulkan.h>

#include "zqr_runtime.h"

#ifndef ZQR_VULKAN
#error "the runtime must be built with ZQR_VULKAN"
#endif

#ifdef _WIN32
int SDL_Init(unsigned flags);
void SDL_Quit(void);
#endif

#ifndef __ANDROID__
static void version_text(char *out, size_t size, const char *name, unsigned v) {
    snprintf(out, size, "%s %u.%u.%u", name, v >> 16, (v >> 8) & 0xff, v & 0xff);
}
#endif

void zqr_media_summary(char *out, size_t size) {
#ifdef __ANDROID__
    /* Android decodes through the system's own media libraries
       (libmediandk, AAudio): FFmpeg is not linked there. */
    uint32_t vk = VK_HEADER_API_VERSION;
    snprintf(out, size, "Android media (mediandk, aaudio), Vulkan %u.%u", VK_API_VERSION_MAJOR(vk),
             VK_API_VERSION_MINOR(vk));
    return;
#else
    char a[48], b[48], c[48], d[48];
    version_text(a, sizeof a, "avformat", avformat_version());
    version_text(b, sizeof b, "avcodec", avcodec_version());
    version_text(c, sizeof c, "swresample", swresample_version());
    version_text(d, sizeof d, "avutil", avutil_version());
    uint32_t vk = VK_HEADER_API_VERSION;
#ifdef _WIN32
    int sdl = SDL_Init(0);
    SDL_Quit();
    snprintf(out, size, "%s, %s, %s, %s, Vulkan %u.%u, SDL2 %s", a, b, c, d, VK_API_VERSION_MAJOR(vk),
             VK_API_VERSION_MINOR(vk), sdl == 0 ? "ready" : "failed");
#else
    snprintf(out, size, "%s, %s, %s, %s, Vulkan %u.%u", a, b, c, d, VK_API_VERSION_MAJOR(vk), VK_API_VERSION_MINOR(vk));
#endif
#endif
}
