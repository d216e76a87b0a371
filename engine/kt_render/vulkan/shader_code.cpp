// The SPIR-V words of the program's shaders, made by glslc at build time.
#include <iterator>

#include "engine/kt_render/vulkan/vulkan_backend.h"

namespace {
const uint32_t vertex_words[] = {
#include "draw.vert.inc"
};
const uint32_t textured_words[] = {
#include "textured.frag.inc"
};
const uint32_t coverage_words[] = {
#include "coverage.frag.inc"
};
const uint32_t sdf_words[] = {
#include "sdf.frag.inc"
};
const uint32_t blur_words[] = {
#include "blur.frag.inc"
};
const uint32_t bloom_extract_words[] = {
#include "bloom_extract.frag.inc"
};
const uint32_t bloom_combine_words[] = {
#include "bloom_combine.frag.inc"
};
const uint32_t neon_words[] = {
#include "neon.frag.inc"
};
const uint32_t background_words[] = {
#include "background.frag.inc"
};
const uint32_t panel_words[] = {
#include "panel.frag.inc"
};

const Shader_Code table[] = {
    {"bloom_extract", bloom_extract_words, 8, 1},
    {"blur", blur_words, 8, 1},
    {"bloom_combine", bloom_combine_words, 20, 3},
    {"neon", neon_words, 32, 1},
    {"background", background_words, 12, 0},
    {"panel", panel_words, 56, 1},
};
}  // namespace

std::span<const uint32_t> builtin_vertex_code() { return vertex_words; }

std::span<const uint32_t> builtin_fragment_code(Material m) {
    switch (m) {
    case Material::Solid:
    case Material::Textured: return textured_words;
    case Material::Coverage: return coverage_words;
    case Material::Sdf: return sdf_words;
    }
    return {};
}

Shader_Code shader_code(std::string_view name) {
    for (const Shader_Code& c : table) {
        if (name == c.name) return c;
    }
    return {"", {}, 0, 0};
}
