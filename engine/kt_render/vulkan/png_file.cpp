// PNG files of read-back pixels, for screenshots of frames and targets.
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wunused-function"
#endif
#include <stb/stb_image_write.h>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

#include <string_view>

#include "engine/kt_render/vulkan/vulkan_backend.h"
#include "engine/kt_system/fs.h"

bool write_png_file(const std::string& path, int width, int height, int channels, const uint8_t* pixels) {
    if (width < 1 || height < 1 || !pixels) return false;
    int length = 0;
    unsigned char* png = stbi_write_png_to_mem(pixels, width * channels, width, height, channels, &length);
    if (!png) return false;
    bool ok = fs_write(path, std::string_view(reinterpret_cast<const char*>(png), size_t(length)));
    STBIW_FREE(png);
    return ok;
}
