// Textures: sampled images in device memory, each with its own descriptor
// set, filled and updated through host-visible staging buffers whose copies
// are recorded at the start of the next frame, read back on request, and
// destroyed once the frames in flight that may use them are done. Also the
// backend's buffers and one-time command buffers.
#include <cstring>

#include "engine/kt_render/vulkan/vk_state.h"
#include "engine/kt_system/log.h"

namespace {

const char* pixel_format_name(Pixel_Format f) {
    switch (f) {
    case Pixel_Format::RGBA8: return "RGBA8";
    case Pixel_Format::R8: return "R8";
    case Pixel_Format::RG8: return "RG8";
    case Pixel_Format::RGBA16F: return "RGBA16F";
    case Pixel_Format::RGBA32F: return "RGBA32F";
    }
    return "?";
}

VkComponentMapping swizzle_of(Pixel_Format f) {
    constexpr auto R = VK_COMPONENT_SWIZZLE_R, G = VK_COMPONENT_SWIZZLE_G, ONE = VK_COMPONENT_SWIZZLE_ONE,
                   ID = VK_COMPONENT_SWIZZLE_IDENTITY;
    switch (f) {
    case Pixel_Format::R8: return {R, R, R, ONE};
    case Pixel_Format::RG8: return {R, R, R, G};
    default: return {ID, ID, ID, ID};
    }
}

uint32_t memory_type(const Vk_State& s, uint32_t allowed, VkMemoryPropertyFlags want) {
    for (uint32_t i = 0; i < s.memory.memoryTypeCount; ++i) {
        if ((allowed & (1u << i)) && (s.memory.memoryTypes[i].propertyFlags & want) == want) return i;
    }
    return UINT32_MAX;
}

bool stage_pixels(Vk_State& s, std::span<const uint8_t> pixels, Staging& out) {
    if (!make_buffer(s, pixels.size(), VK_BUFFER_USAGE_TRANSFER_SRC_BIT, out)) return false;
    std::memcpy(out.mapped, pixels.data(), pixels.size());
    return true;
}

constexpr VkPipelineStageFlags2 sampled_stages =
    VK_PIPELINE_STAGE_2_FRAGMENT_SHADER_BIT | VK_PIPELINE_STAGE_2_COLOR_ATTACHMENT_OUTPUT_BIT;

}  // namespace

VkFormat vk_format_of(Pixel_Format f) {
    switch (f) {
    case Pixel_Format::RGBA8: return VK_FORMAT_R8G8B8A8_UNORM;
    case Pixel_Format::R8: return VK_FORMAT_R8_UNORM;
    case Pixel_Format::RG8: return VK_FORMAT_R8G8_UNORM;
    case Pixel_Format::RGBA16F: return VK_FORMAT_R16G16B16A16_SFLOAT;
    case Pixel_Format::RGBA32F: return VK_FORMAT_R32G32B32A32_SFLOAT;
    }
    return VK_FORMAT_UNDEFINED;
}

void image_barrier(Vk_State& s, VkCommandBuffer cmd, VkImage image, VkImageLayout from, VkImageLayout to,
                   VkPipelineStageFlags2 src_stage, VkAccessFlags2 src_access, VkPipelineStageFlags2 dst_stage,
                   VkAccessFlags2 dst_access) {
    VkImageMemoryBarrier2 b{};
    b.sType = VK_STRUCTURE_TYPE_IMAGE_MEMORY_BARRIER_2;
    b.srcStageMask = src_stage;
    b.srcAccessMask = src_access;
    b.dstStageMask = dst_stage;
    b.dstAccessMask = dst_access;
    b.oldLayout = from;
    b.newLayout = to;
    b.srcQueueFamilyIndex = b.dstQueueFamilyIndex = VK_QUEUE_FAMILY_IGNORED;
    b.image = image;
    b.subresourceRange = {VK_IMAGE_ASPECT_COLOR_BIT, 0, 1, 0, 1};
    VkDependencyInfo dep{};
    dep.sType = VK_STRUCTURE_TYPE_DEPENDENCY_INFO;
    dep.imageMemoryBarrierCount = 1;
    dep.pImageMemoryBarriers = &b;
    s.fd.vkCmdPipelineBarrier2(cmd, &dep);
}

bool make_buffer(Vk_State& s, VkDeviceSize size, VkBufferUsageFlags usage, Staging& out) {
    auto& f = s.fd;
    out = Staging{};
    VkBufferCreateInfo info{};
    info.sType = VK_STRUCTURE_TYPE_BUFFER_CREATE_INFO;
    info.size = size;
    info.usage = usage;
    info.sharingMode = VK_SHARING_MODE_EXCLUSIVE;
    if (f.vkCreateBuffer(s.device, &info, nullptr, &out.buffer) != VK_SUCCESS) {
        out.buffer = VK_NULL_HANDLE;
        return false;
    }
    VkMemoryRequirements req{};
    f.vkGetBufferMemoryRequirements(s.device, out.buffer, &req);
    uint32_t type = memory_type(s, req.memoryTypeBits,
                                VK_MEMORY_PROPERTY_HOST_VISIBLE_BIT | VK_MEMORY_PROPERTY_HOST_COHERENT_BIT);
    VkMemoryAllocateInfo alloc{};
    alloc.sType = VK_STRUCTURE_TYPE_MEMORY_ALLOCATE_INFO;
    alloc.allocationSize = req.size;
    alloc.memoryTypeIndex = type;
    bool ok = type != UINT32_MAX && f.vkAllocateMemory(s.device, &alloc, nullptr, &out.memory) == VK_SUCCESS;
    if (!ok) out.memory = VK_NULL_HANDLE;
    ok = ok && f.vkBindBufferMemory(s.device, out.buffer, out.memory, 0) == VK_SUCCESS &&
         f.vkMapMemory(s.device, out.memory, 0, VK_WHOLE_SIZE, 0, &out.mapped) == VK_SUCCESS;
    if (!ok) {
        destroy_staging(s, out);
        return false;
    }
    out.size = size;
    return true;
}

void destroy_staging(Vk_State& s, Staging& b) {
    if (b.buffer) s.fd.vkDestroyBuffer(s.device, b.buffer, nullptr);
    if (b.memory) s.fd.vkFreeMemory(s.device, b.memory, nullptr);
    b = Staging{};
}

void destroy_texture_objects(Vk_State& s, Texture& t) {
    auto& f = s.fd;
    if (t.set) {
        f.vkFreeDescriptorSets(s.device, s.texture_pool, 1, &t.set);
        --s.texture_sets;
    }
    if (t.view) f.vkDestroyImageView(s.device, t.view, nullptr);
    if (t.image) f.vkDestroyImage(s.device, t.image, nullptr);
    if (t.memory) f.vkFreeMemory(s.device, t.memory, nullptr);
    t.set = VK_NULL_HANDLE;
    t.view = VK_NULL_HANDLE;
    t.image = VK_NULL_HANDLE;
    t.memory = VK_NULL_HANDLE;
}

Handle make_texture(Vk_State& s, const Texture_Desc& desc) {
    auto& f = s.fd;
    if (desc.width < 1 || desc.height < 1) return 0;
    bool render_target = desc.flags & texture_flag_render_target;
    if (render_target && desc.format != Pixel_Format::RGBA8 && desc.format != Pixel_Format::RGBA16F &&
        desc.format != Pixel_Format::RGBA32F) {
        log_printf(Log_Level::Warning, "ren_vulkan: only RGBA8, RGBA16F and RGBA32F textures can be render targets");
        return 0;
    }
    VkPhysicalDeviceProperties props{};
    s.fi.vkGetPhysicalDeviceProperties(s.physical, &props);
    uint32_t limit = props.limits.maxImageDimension2D;
    if (uint64_t(desc.width) > limit || uint64_t(desc.height) > limit) {
        log_printf(Log_Level::Warning, "ren_vulkan: a %dx%d texture is larger than this device's %u pixels", desc.width,
                   desc.height, limit);
        return 0;
    }
    uint64_t size = uint64_t(desc.width) * uint64_t(desc.height) * uint64_t(pixel_format_bytes(desc.format));
    if (!desc.pixels.empty() && desc.pixels.size() != size) {
        log_printf(Log_Level::Warning, "ren_vulkan: a %dx%d texture needs %llu bytes of pixels, got %zu", desc.width,
                   desc.height, (unsigned long long)size, desc.pixels.size());
        return 0;
    }
    Texture t;
    t.width = desc.width;
    t.height = desc.height;
    t.format = desc.format;
    t.vk_format = vk_format_of(desc.format);
    t.filter = desc.filter;
    t.render_target = render_target;
    if (t.filter == Filter::Linear) {
        VkFormatProperties fp{};
        s.fi.vkGetPhysicalDeviceFormatProperties(s.physical, t.vk_format, &fp);
        if (!(fp.optimalTilingFeatures & VK_FORMAT_FEATURE_SAMPLED_IMAGE_FILTER_LINEAR_BIT)) {
            log_printf(Log_Level::Warning, "ren_vulkan: %s cannot be filtered linearly here: nearest instead",
                       pixel_format_name(desc.format));
            t.filter = Filter::Nearest;
        }
    }
    t.sampler = s.samplers[int(t.filter) * 2 + int(desc.wrap)];

    VkImageCreateInfo info{};
    info.sType = VK_STRUCTURE_TYPE_IMAGE_CREATE_INFO;
    info.imageType = VK_IMAGE_TYPE_2D;
    info.format = t.vk_format;
    info.extent = {uint32_t(desc.width), uint32_t(desc.height), 1};
    info.mipLevels = 1;
    info.arrayLayers = 1;
    info.samples = VK_SAMPLE_COUNT_1_BIT;
    info.tiling = VK_IMAGE_TILING_OPTIMAL;
    info.usage = VK_IMAGE_USAGE_TRANSFER_SRC_BIT | VK_IMAGE_USAGE_TRANSFER_DST_BIT | VK_IMAGE_USAGE_SAMPLED_BIT |
                 (render_target ? VK_IMAGE_USAGE_COLOR_ATTACHMENT_BIT : 0);
    if (f.vkCreateImage(s.device, &info, nullptr, &t.image) != VK_SUCCESS) return 0;
    VkMemoryRequirements req{};
    f.vkGetImageMemoryRequirements(s.device, t.image, &req);
    uint32_t type = memory_type(s, req.memoryTypeBits, VK_MEMORY_PROPERTY_DEVICE_LOCAL_BIT);
    VkMemoryAllocateInfo alloc{};
    alloc.sType = VK_STRUCTURE_TYPE_MEMORY_ALLOCATE_INFO;
    alloc.allocationSize = req.size;
    alloc.memoryTypeIndex = type;
    if (type == UINT32_MAX || f.vkAllocateMemory(s.device, &alloc, nullptr, &t.memory) != VK_SUCCESS) {
        t.memory = VK_NULL_HANDLE;
        destroy_texture_objects(s, t);
        return 0;
    }
    if (f.vkBindImageMemory(s.device, t.image, t.memory, 0) != VK_SUCCESS) {
        destroy_texture_objects(s, t);
        return 0;
    }
    VkImageViewCreateInfo view{};
    view.sType = VK_STRUCTURE_TYPE_IMAGE_VIEW_CREATE_INFO;
    view.image = t.image;
    view.viewType = VK_IMAGE_VIEW_TYPE_2D;
    view.format = t.vk_format;
    view.components = swizzle_of(desc.format);
    view.subresourceRange = {VK_IMAGE_ASPECT_COLOR_BIT, 0, 1, 0, 1};
    if (f.vkCreateImageView(s.device, &view, nullptr, &t.view) != VK_SUCCESS) {
        t.view = VK_NULL_HANDLE;
        destroy_texture_objects(s, t);
        return 0;
    }
    VkDescriptorSetAllocateInfo set{};
    set.sType = VK_STRUCTURE_TYPE_DESCRIPTOR_SET_ALLOCATE_INFO;
    set.descriptorPool = s.texture_pool;
    set.descriptorSetCount = 1;
    set.pSetLayouts = &s.texture_set_layout;
    if (s.texture_sets >= texture_slots || f.vkAllocateDescriptorSets(s.device, &set, &t.set) != VK_SUCCESS) {
        // The image, its memory and its view go too.
        t.set = VK_NULL_HANDLE;
        destroy_texture_objects(s, t);
        log_printf(Log_Level::Warning, "ren_vulkan: out of texture slots (at most %u textures)", texture_slots);
        return 0;
    }
    ++s.texture_sets;
    VkDescriptorImageInfo image_info{t.sampler, t.view, VK_IMAGE_LAYOUT_SHADER_READ_ONLY_OPTIMAL};
    VkWriteDescriptorSet w{};
    w.sType = VK_STRUCTURE_TYPE_WRITE_DESCRIPTOR_SET;
    w.dstSet = t.set;
    w.descriptorCount = 1;
    w.descriptorType = VK_DESCRIPTOR_TYPE_COMBINED_IMAGE_SAMPLER;
    w.pImageInfo = &image_info;
    f.vkUpdateDescriptorSets(s.device, 1, &w, 0, nullptr);

    Upload up;
    if (!desc.pixels.empty() && !stage_pixels(s, desc.pixels, up.staging)) {
        destroy_texture_objects(s, t);
        return 0;
    }
    Handle h = pool_add(s.textures, t);
    if (h == 0) {
        destroy_staging(s, up.staging);
        destroy_texture_objects(s, t);
        return 0;
    }
    up.texture = h;
    up.width = desc.width;
    up.height = desc.height;
    s.uploads.push_back(up);
    return h;
}

Handle backend_create_texture(Backend& b, const Texture_Desc& desc) {
    Vk_State& s = state_of(b);
    return s.device_lost ? 0 : make_texture(s, desc);
}

bool backend_update_texture(Backend& b, Handle texture, Rect rect, std::span<const uint8_t> pixels) {
    Vk_State& s = state_of(b);
    Texture* t = pool_get(s.textures, texture);
    if (!t || s.device_lost) return false;
    if (rect.x < 0 || rect.y < 0 || rect.width < 1 || rect.height < 1) return false;
    if (int64_t(rect.x) + rect.width > t->width || int64_t(rect.y) + rect.height > t->height) return false;
    if (uint64_t(rect.width) * uint64_t(rect.height) * uint64_t(pixel_format_bytes(t->format)) != pixels.size())
        return false;
    Upload up;
    if (!stage_pixels(s, pixels, up.staging)) return false;
    up.texture = texture;
    up.x = rect.x;
    up.y = rect.y;
    up.width = rect.width;
    up.height = rect.height;
    s.uploads.push_back(up);
    return true;
}

void backend_destroy_texture(Backend& b, Handle texture) {
    Vk_State& s = state_of(b);
    Texture* t = pool_get(s.textures, texture);
    if (!t) return;
    size_t kept = 0;
    for (Upload& u : s.uploads) {
        if (u.texture == texture) {
            destroy_staging(s, u.staging);
        } else {
            s.uploads[kept++] = u;
        }
    }
    s.uploads.resize(kept);
    Deferred_Destroy d;
    d.frame = s.frame_number;
    d.image = t->image;
    d.view = t->view;
    d.memory = t->memory;
    d.set = t->set;
    s.deferred.push_back(d);
    pool_remove(s.textures, texture);
}

void run_deferred(Vk_State& s, uint64_t up_to, bool all) {
    auto& f = s.fd;
    size_t kept = 0;
    for (Deferred_Destroy& d : s.deferred) {
        if (!all && d.frame > up_to) {
            s.deferred[kept++] = d;
            continue;
        }
        if (d.set) {
            f.vkFreeDescriptorSets(s.device, s.texture_pool, 1, &d.set);
            --s.texture_sets;
        }
        if (d.view) f.vkDestroyImageView(s.device, d.view, nullptr);
        if (d.image) f.vkDestroyImage(s.device, d.image, nullptr);
        if (d.buffer) f.vkDestroyBuffer(s.device, d.buffer, nullptr);
        if (d.memory) f.vkFreeMemory(s.device, d.memory, nullptr);
    }
    s.deferred.resize(kept);
}

void record_uploads(Vk_State& s, VkCommandBuffer cmd) {
    auto& f = s.fd;
    for (Upload& u : s.uploads) {
        Texture* t = pool_get(s.textures, u.texture);
        if (!t) {
            destroy_staging(s, u.staging);
            continue;
        }
        if (t->layout == 0) {
            image_barrier(s, cmd, t->image, VK_IMAGE_LAYOUT_UNDEFINED, VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL,
                          VK_PIPELINE_STAGE_2_TOP_OF_PIPE_BIT, 0, VK_PIPELINE_STAGE_2_TRANSFER_BIT,
                          VK_ACCESS_2_TRANSFER_WRITE_BIT);
        } else {
            image_barrier(s, cmd, t->image, VkImageLayout(t->layout), VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL,
                          sampled_stages, VK_ACCESS_2_SHADER_SAMPLED_READ_BIT | VK_ACCESS_2_COLOR_ATTACHMENT_WRITE_BIT,
                          VK_PIPELINE_STAGE_2_TRANSFER_BIT, VK_ACCESS_2_TRANSFER_WRITE_BIT);
        }
        if (u.staging.buffer) {
            VkBufferImageCopy region{};
            region.imageSubresource = {VK_IMAGE_ASPECT_COLOR_BIT, 0, 0, 1};
            region.imageOffset = {u.x, u.y, 0};
            region.imageExtent = {uint32_t(u.width), uint32_t(u.height), 1};
            f.vkCmdCopyBufferToImage(cmd, u.staging.buffer, t->image, VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL, 1, &region);
        } else {
            VkClearColorValue zero{};
            VkImageSubresourceRange range{VK_IMAGE_ASPECT_COLOR_BIT, 0, 1, 0, 1};
            f.vkCmdClearColorImage(cmd, t->image, VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL, &zero, 1, &range);
        }
        image_barrier(s, cmd, t->image, VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL, VK_IMAGE_LAYOUT_SHADER_READ_ONLY_OPTIMAL,
                      VK_PIPELINE_STAGE_2_TRANSFER_BIT, VK_ACCESS_2_TRANSFER_WRITE_BIT, sampled_stages,
                      VK_ACCESS_2_SHADER_SAMPLED_READ_BIT | VK_ACCESS_2_COLOR_ATTACHMENT_READ_BIT |
                          VK_ACCESS_2_COLOR_ATTACHMENT_WRITE_BIT);
        t->layout = VK_IMAGE_LAYOUT_SHADER_READ_ONLY_OPTIMAL;
        if (u.staging.buffer) {
            Deferred_Destroy d;
            d.frame = s.frame_number + 1;
            d.buffer = u.staging.buffer;
            d.memory = u.staging.memory;
            s.deferred.push_back(d);
        }
    }
    s.uploads.clear();
}

VkCommandBuffer begin_once(Vk_State& s) {
    VkCommandBufferAllocateInfo alloc{};
    alloc.sType = VK_STRUCTURE_TYPE_COMMAND_BUFFER_ALLOCATE_INFO;
    alloc.commandPool = s.transient_pool;
    alloc.level = VK_COMMAND_BUFFER_LEVEL_PRIMARY;
    alloc.commandBufferCount = 1;
    VkCommandBuffer cmd = VK_NULL_HANDLE;
    if (s.fd.vkAllocateCommandBuffers(s.device, &alloc, &cmd) != VK_SUCCESS) return VK_NULL_HANDLE;
    VkCommandBufferBeginInfo begin{};
    begin.sType = VK_STRUCTURE_TYPE_COMMAND_BUFFER_BEGIN_INFO;
    begin.flags = VK_COMMAND_BUFFER_USAGE_ONE_TIME_SUBMIT_BIT;
    s.fd.vkBeginCommandBuffer(cmd, &begin);
    return cmd;
}

bool end_once(Vk_State& s, VkCommandBuffer cmd) {
    auto& f = s.fd;
    bool ok = note_result(s, f.vkEndCommandBuffer(cmd)) == VK_SUCCESS;
    if (ok) {
        VkSubmitInfo submit{};
        submit.sType = VK_STRUCTURE_TYPE_SUBMIT_INFO;
        submit.commandBufferCount = 1;
        submit.pCommandBuffers = &cmd;
        VkResult r = note_result(s, f.vkQueueSubmit(s.queue, 1, &submit, VK_NULL_HANDLE));
        if (r != VK_SUCCESS) {
            log_printf(Log_Level::Error, "ren_vulkan: queue submit failed: %s", result_name(r));
            ok = false;
        } else {
            ok = note_result(s, f.vkQueueWaitIdle(s.queue)) == VK_SUCCESS;
        }
    }
    f.vkFreeCommandBuffers(s.device, s.transient_pool, 1, &cmd);
    return ok;
}

Texture_Pixels backend_read_texture(Backend& b, Handle texture) {
    Vk_State& s = state_of(b);
    auto& f = s.fd;
    if (s.device_lost) return {};
    f.vkDeviceWaitIdle(s.device);
    if (!s.uploads.empty()) {
        VkCommandBuffer cmd = begin_once(s);
        if (!cmd) return {};
        record_uploads(s, cmd);
        if (!end_once(s, cmd)) return {};
    }
    Texture* t = pool_get(s.textures, texture);
    if (!t) return {};
    uint64_t size = uint64_t(t->width) * uint64_t(t->height) * uint64_t(pixel_format_bytes(t->format));
    Staging host;
    if (!make_buffer(s, size, VK_BUFFER_USAGE_TRANSFER_DST_BIT, host)) return {};
    VkCommandBuffer cmd = begin_once(s);
    if (!cmd) {
        destroy_staging(s, host);
        return {};
    }
    VkImageLayout layout = t->layout ? VkImageLayout(t->layout) : VK_IMAGE_LAYOUT_UNDEFINED;
    image_barrier(s, cmd, t->image, layout, VK_IMAGE_LAYOUT_TRANSFER_SRC_OPTIMAL, sampled_stages,
                  VK_ACCESS_2_SHADER_SAMPLED_READ_BIT | VK_ACCESS_2_COLOR_ATTACHMENT_WRITE_BIT,
                  VK_PIPELINE_STAGE_2_TRANSFER_BIT, VK_ACCESS_2_TRANSFER_READ_BIT);
    VkBufferImageCopy region{};
    region.imageSubresource = {VK_IMAGE_ASPECT_COLOR_BIT, 0, 0, 1};
    region.imageExtent = {uint32_t(t->width), uint32_t(t->height), 1};
    f.vkCmdCopyImageToBuffer(cmd, t->image, VK_IMAGE_LAYOUT_TRANSFER_SRC_OPTIMAL, host.buffer, 1, &region);
    if (t->layout) {
        image_barrier(s, cmd, t->image, VK_IMAGE_LAYOUT_TRANSFER_SRC_OPTIMAL, layout, VK_PIPELINE_STAGE_2_TRANSFER_BIT,
                      VK_ACCESS_2_TRANSFER_READ_BIT, sampled_stages,
                      VK_ACCESS_2_SHADER_SAMPLED_READ_BIT | VK_ACCESS_2_COLOR_ATTACHMENT_WRITE_BIT);
    } else {
        // A texture never uploaded stays readable from here on.
        image_barrier(s, cmd, t->image, VK_IMAGE_LAYOUT_TRANSFER_SRC_OPTIMAL, VK_IMAGE_LAYOUT_SHADER_READ_ONLY_OPTIMAL,
                      VK_PIPELINE_STAGE_2_TRANSFER_BIT, VK_ACCESS_2_TRANSFER_READ_BIT, sampled_stages,
                      VK_ACCESS_2_SHADER_SAMPLED_READ_BIT);
        t->layout = VK_IMAGE_LAYOUT_SHADER_READ_ONLY_OPTIMAL;
    }
    Texture_Pixels out;
    if (end_once(s, cmd)) {
        out.width = t->width;
        out.height = t->height;
        out.format = t->format;
        const uint8_t* p = static_cast<const uint8_t*>(host.mapped);
        out.pixels.assign(p, p + size);
    }
    destroy_staging(s, host);
    return out;
}
