// Shaders and pipelines: custom fragment shaders with their layouts, and
// the pipeline cache keyed by target format, shader, material and blend.
#include <chrono>

#include "engine/kt_render/vulkan/vk_state.h"
#include "engine/kt_system/log.h"

namespace {

const char* material_name(Material m) {
    switch (m) {
    case Material::Solid: return "Solid";
    case Material::Textured: return "Textured";
    case Material::Coverage: return "Coverage";
    case Material::Sdf: return "Sdf";
    }
    return "?";
}

const char* blend_name(Blend b) {
    switch (b) {
    case Blend::Alpha: return "Alpha";
    case Blend::Opaque: return "Opaque";
    case Blend::Additive: return "Additive";
    case Blend::Premultiplied: return "Premultiplied";
    case Blend::Modulate: return "Modulate";
    }
    return "?";
}

VkPipelineColorBlendAttachmentState blend_state(Blend b) {
    VkPipelineColorBlendAttachmentState a{};
    a.colorWriteMask = VK_COLOR_COMPONENT_R_BIT | VK_COLOR_COMPONENT_G_BIT | VK_COLOR_COMPONENT_B_BIT |
                       VK_COLOR_COMPONENT_A_BIT;
    a.colorBlendOp = a.alphaBlendOp = VK_BLEND_OP_ADD;
    auto set = [&](VkBlendFactor cs, VkBlendFactor cd, VkBlendFactor as, VkBlendFactor ad) {
        a.blendEnable = VK_TRUE;
        a.srcColorBlendFactor = cs;
        a.dstColorBlendFactor = cd;
        a.srcAlphaBlendFactor = as;
        a.dstAlphaBlendFactor = ad;
    };
    switch (b) {
    case Blend::Alpha:
        set(VK_BLEND_FACTOR_SRC_ALPHA, VK_BLEND_FACTOR_ONE_MINUS_SRC_ALPHA, VK_BLEND_FACTOR_ONE,
            VK_BLEND_FACTOR_ONE_MINUS_SRC_ALPHA);
        break;
    case Blend::Opaque: break;
    case Blend::Additive:
        set(VK_BLEND_FACTOR_SRC_ALPHA, VK_BLEND_FACTOR_ONE, VK_BLEND_FACTOR_ZERO, VK_BLEND_FACTOR_ONE);
        break;
    case Blend::Premultiplied:
        set(VK_BLEND_FACTOR_ONE, VK_BLEND_FACTOR_ONE_MINUS_SRC_ALPHA, VK_BLEND_FACTOR_ONE,
            VK_BLEND_FACTOR_ONE_MINUS_SRC_ALPHA);
        break;
    case Blend::Modulate:
        set(VK_BLEND_FACTOR_ZERO, VK_BLEND_FACTOR_SRC_COLOR, VK_BLEND_FACTOR_ZERO, VK_BLEND_FACTOR_ONE);
        break;
    }
    return a;
}

}  // namespace

bool make_shader(Vk_State& s, const uint32_t* words, size_t count, VkShaderModule& out) {
    VkShaderModuleCreateInfo info{};
    info.sType = VK_STRUCTURE_TYPE_SHADER_MODULE_CREATE_INFO;
    info.codeSize = count * 4;
    info.pCode = words;
    VkResult r = s.fd.vkCreateShaderModule(s.device, &info, nullptr, &out);
    if (r != VK_SUCCESS) {
        out = VK_NULL_HANDLE;
        log_printf(Log_Level::Error, "ren_vulkan: a shader module was refused: %s", result_name(r));
        return false;
    }
    return true;
}

void destroy_shader_objects(Vk_State& s, Shader& sh) {
    auto& f = s.fd;
    if (sh.layout) f.vkDestroyPipelineLayout(s.device, sh.layout, nullptr);
    if (sh.set_layout) f.vkDestroyDescriptorSetLayout(s.device, sh.set_layout, nullptr);
    if (sh.module) f.vkDestroyShaderModule(s.device, sh.module, nullptr);
    sh = Shader{};
}

Handle backend_create_shader(Backend& b, const Shader_Desc& desc) {
    Vk_State& s = state_of(b);
    auto& f = s.fd;
    if (s.device_lost || desc.code.empty()) return 0;
    if (desc.texture_count < 0 || desc.texture_count > shader_max_textures) {
        log_printf(Log_Level::Warning, "ren_vulkan: a shader may sample 0 .. %d textures, not %d", shader_max_textures,
                   desc.texture_count);
        return 0;
    }
    if (desc.uniform_size < 0 || desc.uniform_size > s.uniform_limit) {
        log_printf(Log_Level::Warning, "ren_vulkan: a shader's uniforms may be %d bytes at most, not %d", s.uniform_limit,
                   desc.uniform_size);
        return 0;
    }
    if (desc.uniform_size > 0 && !s.scalar_block_layout) {
        log_printf(Log_Level::Warning, "ren_vulkan: this device cannot do scalar uniform block layouts (scalarBlockLayout)");
        return 0;
    }
    Shader sh;
    sh.uniform_size = desc.uniform_size;
    sh.texture_count = desc.texture_count;
    VkShaderModuleCreateInfo info{};
    info.sType = VK_STRUCTURE_TYPE_SHADER_MODULE_CREATE_INFO;
    info.codeSize = desc.code.size() * 4;
    info.pCode = desc.code.data();
    VkResult r = f.vkCreateShaderModule(s.device, &info, nullptr, &sh.module);
    if (r != VK_SUCCESS) {
        log_printf(Log_Level::Warning, "ren_vulkan: a custom shader was refused: %s", result_name(r));
        return 0;
    }
    VkDescriptorSetLayoutBinding bindings[shader_max_textures]{};
    for (int i = 0; i < desc.texture_count; ++i) {
        bindings[i].binding = uint32_t(i);
        bindings[i].descriptorType = VK_DESCRIPTOR_TYPE_COMBINED_IMAGE_SAMPLER;
        bindings[i].descriptorCount = 1;
        bindings[i].stageFlags = VK_SHADER_STAGE_FRAGMENT_BIT;
    }
    VkDescriptorSetLayoutCreateInfo set{};
    set.sType = VK_STRUCTURE_TYPE_DESCRIPTOR_SET_LAYOUT_CREATE_INFO;
    set.bindingCount = uint32_t(desc.texture_count);
    set.pBindings = bindings;
    bool ok = f.vkCreateDescriptorSetLayout(s.device, &set, nullptr, &sh.set_layout) == VK_SUCCESS;
    if (ok) {
        VkDescriptorSetLayout layouts[2] = {s.uniform_set_layout, sh.set_layout};
        VkPushConstantRange push{VK_SHADER_STAGE_VERTEX_BIT, 0, 16};
        VkPipelineLayoutCreateInfo layout{};
        layout.sType = VK_STRUCTURE_TYPE_PIPELINE_LAYOUT_CREATE_INFO;
        layout.setLayoutCount = 2;
        layout.pSetLayouts = layouts;
        layout.pushConstantRangeCount = 1;
        layout.pPushConstantRanges = &push;
        ok = f.vkCreatePipelineLayout(s.device, &layout, nullptr, &sh.layout) == VK_SUCCESS;
    }
    Handle h = ok ? pool_add(s.shaders, sh) : 0;
    if (h == 0) destroy_shader_objects(s, sh);
    return h;
}

void backend_destroy_shader(Backend& b, Handle shader) {
    Vk_State& s = state_of(b);
    Shader* sh = pool_get(s.shaders, shader);
    if (!sh) return;
    finish_warming(s);
    s.fd.vkDeviceWaitIdle(s.device);
    for (auto it = s.pipelines.begin(); it != s.pipelines.end();) {
        if (it->first.shader == shader) {
            s.fd.vkDestroyPipeline(s.device, it->second, nullptr);
            it = s.pipelines.erase(it);
        } else {
            ++it;
        }
    }
    destroy_shader_objects(s, *sh);
    pool_remove(s.shaders, shader);
}

namespace {

// The key as the cache holds it: built-in Solid draws with Textured's shader.
Pipeline_Key normal_key(Pipeline_Key key) {
    if (key.shader == 0 && key.material == Material::Solid) key.material = Material::Textured;
    return key;
}

// The layout and fragment module of a key; false for a dead shader.
bool key_objects(Vk_State& s, const Pipeline_Key& key, VkPipelineLayout& layout, VkShaderModule& fragment) {
    if (key.shader != 0) {
        Shader* sh = pool_get(s.shaders, key.shader);
        if (!sh) return false;
        layout = sh->layout;
        fragment = sh->module;
    } else {
        layout = s.pipeline_layout;
        fragment = s.fragment_modules[int(key.material)];
    }
    return true;
}

// Makes one pipeline. It reads only the device, its entry points and the
// vertex module besides its arguments, so that it may run on any thread.
VkPipeline make_pipeline(const Vk_State& s, const Pipeline_Key& key, VkPipelineLayout layout, VkShaderModule fragment) {
    auto start = std::chrono::steady_clock::now();
    VkPipelineShaderStageCreateInfo stages[2]{};
    stages[0].sType = stages[1].sType = VK_STRUCTURE_TYPE_PIPELINE_SHADER_STAGE_CREATE_INFO;
    stages[0].stage = VK_SHADER_STAGE_VERTEX_BIT;
    stages[0].module = s.vertex_module;
    stages[0].pName = "main";
    stages[1].stage = VK_SHADER_STAGE_FRAGMENT_BIT;
    stages[1].module = fragment;
    stages[1].pName = "main";
    VkVertexInputBindingDescription binding{0, 20, VK_VERTEX_INPUT_RATE_VERTEX};
    VkVertexInputAttributeDescription attributes[3] = {
        {0, 0, VK_FORMAT_R32G32_SFLOAT, 0},
        {1, 0, VK_FORMAT_R32G32_SFLOAT, 8},
        {2, 0, VK_FORMAT_R8G8B8A8_UNORM, 16},
    };
    VkPipelineVertexInputStateCreateInfo input{};
    input.sType = VK_STRUCTURE_TYPE_PIPELINE_VERTEX_INPUT_STATE_CREATE_INFO;
    input.vertexBindingDescriptionCount = 1;
    input.pVertexBindingDescriptions = &binding;
    input.vertexAttributeDescriptionCount = 3;
    input.pVertexAttributeDescriptions = attributes;
    VkPipelineInputAssemblyStateCreateInfo assembly{};
    assembly.sType = VK_STRUCTURE_TYPE_PIPELINE_INPUT_ASSEMBLY_STATE_CREATE_INFO;
    assembly.topology = VK_PRIMITIVE_TOPOLOGY_TRIANGLE_LIST;
    VkPipelineViewportStateCreateInfo viewport{};
    viewport.sType = VK_STRUCTURE_TYPE_PIPELINE_VIEWPORT_STATE_CREATE_INFO;
    viewport.viewportCount = 1;
    viewport.scissorCount = 1;
    VkPipelineRasterizationStateCreateInfo raster{};
    raster.sType = VK_STRUCTURE_TYPE_PIPELINE_RASTERIZATION_STATE_CREATE_INFO;
    raster.polygonMode = VK_POLYGON_MODE_FILL;
    raster.cullMode = VK_CULL_MODE_NONE;
    raster.frontFace = VK_FRONT_FACE_COUNTER_CLOCKWISE;
    raster.lineWidth = 1.0f;
    VkPipelineMultisampleStateCreateInfo multisample{};
    multisample.sType = VK_STRUCTURE_TYPE_PIPELINE_MULTISAMPLE_STATE_CREATE_INFO;
    multisample.rasterizationSamples = VK_SAMPLE_COUNT_1_BIT;
    VkPipelineColorBlendAttachmentState attachment = blend_state(key.blend);
    VkPipelineColorBlendStateCreateInfo blend{};
    blend.sType = VK_STRUCTURE_TYPE_PIPELINE_COLOR_BLEND_STATE_CREATE_INFO;
    blend.attachmentCount = 1;
    blend.pAttachments = &attachment;
    VkDynamicState dynamic_states[2] = {VK_DYNAMIC_STATE_VIEWPORT, VK_DYNAMIC_STATE_SCISSOR};
    VkPipelineDynamicStateCreateInfo dynamic{};
    dynamic.sType = VK_STRUCTURE_TYPE_PIPELINE_DYNAMIC_STATE_CREATE_INFO;
    dynamic.dynamicStateCount = 2;
    dynamic.pDynamicStates = dynamic_states;
    VkFormat format = VkFormat(key.format);
    VkPipelineRenderingCreateInfo rendering{};
    rendering.sType = VK_STRUCTURE_TYPE_PIPELINE_RENDERING_CREATE_INFO;
    rendering.colorAttachmentCount = 1;
    rendering.pColorAttachmentFormats = &format;

    VkGraphicsPipelineCreateInfo info{};
    info.sType = VK_STRUCTURE_TYPE_GRAPHICS_PIPELINE_CREATE_INFO;
    info.pNext = &rendering;
    info.stageCount = 2;
    info.pStages = stages;
    info.pVertexInputState = &input;
    info.pInputAssemblyState = &assembly;
    info.pViewportState = &viewport;
    info.pRasterizationState = &raster;
    info.pMultisampleState = &multisample;
    info.pColorBlendState = &blend;
    info.pDynamicState = &dynamic;
    info.layout = layout;
    VkPipeline pipeline = VK_NULL_HANDLE;
    VkResult r = s.fd.vkCreateGraphicsPipelines(s.device, VK_NULL_HANDLE, 1, &info, nullptr, &pipeline);
    if (r != VK_SUCCESS) {
        log_printf(Log_Level::Error, "ren_vulkan: creating a pipeline failed: %s", result_name(r));
        return VK_NULL_HANDLE;
    }
    double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    log_printf(Log_Level::Debug, "ren_vulkan: made a pipeline (shader %u, material %s, blend %s, format %s) in %.1f ms",
               key.shader, material_name(key.material), blend_name(key.blend), format_name(format), ms);
    return pipeline;
}

}  // namespace

void finish_warming(Vk_State& s) {
    for (auto& w : s.warming) {
        thread_join(w->thread);
        if (!w->pipeline) continue;
        // A key made twice keeps the first.
        if (!s.pipelines.emplace(w->key, w->pipeline).second) s.fd.vkDestroyPipeline(s.device, w->pipeline, nullptr);
    }
    s.warming.clear();
}

// Every pipeline, the built-in ones too, is made when a draw first needs it
// (or ahead of that on threads of their own, vulkan_warm_pipelines): making
// all fifteen built-in ones for each target format before the first frame
// was most of the renderer's start, and a frame uses a few of them.
VkPipeline get_pipeline(Vk_State& s, Pipeline_Key key) {
    key = normal_key(key);
    auto found = s.pipelines.find(key);
    if (found != s.pipelines.end()) return found->second;
    if (!s.warming.empty()) {
        finish_warming(s);
        found = s.pipelines.find(key);
        if (found != s.pipelines.end()) return found->second;
    }
    VkPipelineLayout layout;
    VkShaderModule fragment;
    if (!key_objects(s, key, layout, fragment)) return VK_NULL_HANDLE;
    VkPipeline pipeline = make_pipeline(s, key, layout, fragment);
    if (pipeline) s.pipelines.emplace(key, pipeline);
    return pipeline;
}

void vulkan_warm_pipelines(Backend& b, std::span<const Pipeline_Want> wants) {
    if (!b.state) return;
    Vk_State& s = state_of(b);
    if (s.device_lost) return;
    for (const Pipeline_Want& want : wants) {
        Pipeline_Key key;
        key.format = uint32_t(want.window ? s.format : vk_format_of(want.target_format));
        key.shader = want.shader;
        key.material = want.material;
        key.blend = want.blend;
        key = normal_key(key);
        if (key.format == uint32_t(VK_FORMAT_UNDEFINED) || s.pipelines.count(key)) continue;
        bool queued = false;
        for (const auto& w : s.warming) queued = queued || w->key == key;
        if (queued) continue;
        auto w = std::make_unique<Pipeline_Warm>();
        w->key = key;
        if (!key_objects(s, key, w->layout, w->fragment)) continue;
        Pipeline_Warm* raw = w.get();
        const Vk_State* state = &s;
        // Without a thread it is made at its first use.
        if (!thread_start(w->thread, [state, raw] {
                raw->pipeline = make_pipeline(*state, raw->key, raw->layout, raw->fragment);
            }))
            continue;
        s.warming.push_back(std::move(w));
    }
}
