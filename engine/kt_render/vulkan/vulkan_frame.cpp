// Frame rendering: one draw list into one presented frame, two frames in
// flight; the per-frame buffers that only grow; render-target switches with
// their barriers; the copy of the window image kept for read-back.
#include <algorithm>
#include <cstring>

#include "engine/kt_render/vulkan/vk_state.h"
#include "engine/kt_system/log.h"

namespace {

struct Target_Pass {
    bool active = false;
    bool begun_window = false;
    bool target_failed = false;
    Handle target = 0;
    Texture* texture = nullptr;
    VkFormat format = VK_FORMAT_UNDEFINED;
    int width = 0, height = 0;
    float push[4] = {};
    VkPipelineLayout pushed_layout = VK_NULL_HANDLE;
    VkPipeline pipeline = VK_NULL_HANDLE;
    VkDescriptorSet texture_set = VK_NULL_HANDLE;
    uint32_t custom_commands = 0;
    // Frame context.
    VkCommandBuffer cmd = VK_NULL_HANDLE;
    uint32_t image = 0;
    bool window_kept = false;   // the window image's previous contents were kept
    const Draw_List* list = nullptr;
};

constexpr VkPipelineStageFlags2 attachment_stage = VK_PIPELINE_STAGE_2_COLOR_ATTACHMENT_OUTPUT_BIT;
constexpr VkAccessFlags2 attachment_rw = VK_ACCESS_2_COLOR_ATTACHMENT_READ_BIT | VK_ACCESS_2_COLOR_ATTACHMENT_WRITE_BIT;

// The layout the window image is left in at the end of a frame.
VkImageLayout final_layout(const Vk_State& s) {
    return s.offscreen ? VK_IMAGE_LAYOUT_TRANSFER_SRC_OPTIMAL : VK_IMAGE_LAYOUT_PRESENT_SRC_KHR;
}

void push_target_constants(Vk_State& s, Target_Pass& p, VkPipelineLayout layout) {
    s.fd.vkCmdPushConstants(p.cmd, layout, VK_SHADER_STAGE_VERTEX_BIT, 0, 16, p.push);
    p.pushed_layout = layout;
}

// Makes the target just drawn readable by later commands.
void finish_target(Vk_State& s, Target_Pass& p) {
    s.fd.vkCmdEndRendering(p.cmd);
    if (p.texture) {
        image_barrier(s, p.cmd, p.texture->image, VK_IMAGE_LAYOUT_COLOR_ATTACHMENT_OPTIMAL,
                      VK_IMAGE_LAYOUT_SHADER_READ_ONLY_OPTIMAL, attachment_stage, VK_ACCESS_2_COLOR_ATTACHMENT_WRITE_BIT,
                      VK_PIPELINE_STAGE_2_FRAGMENT_SHADER_BIT | attachment_stage,
                      VK_ACCESS_2_SHADER_SAMPLED_READ_BIT | attachment_rw);
        p.texture->layout = VK_IMAGE_LAYOUT_SHADER_READ_ONLY_OPTIMAL;
    } else {
        VkMemoryBarrier2 b{};
        b.sType = VK_STRUCTURE_TYPE_MEMORY_BARRIER_2;
        b.srcStageMask = attachment_stage;
        b.srcAccessMask = VK_ACCESS_2_COLOR_ATTACHMENT_WRITE_BIT;
        b.dstStageMask = attachment_stage;
        b.dstAccessMask = attachment_rw;
        VkDependencyInfo dep{};
        dep.sType = VK_STRUCTURE_TYPE_DEPENDENCY_INFO;
        dep.memoryBarrierCount = 1;
        dep.pMemoryBarriers = &b;
        s.fd.vkCmdPipelineBarrier2(p.cmd, &dep);
    }
}

void begin_target(Vk_State& s, Target_Pass& p, Handle target) {
    p.active = true;
    p.target = target;
    p.target_failed = false;
    p.texture = nullptr;
    VkRenderingAttachmentInfo colour{};
    colour.sType = VK_STRUCTURE_TYPE_RENDERING_ATTACHMENT_INFO;
    colour.imageLayout = VK_IMAGE_LAYOUT_COLOR_ATTACHMENT_OPTIMAL;
    colour.storeOp = VK_ATTACHMENT_STORE_OP_STORE;
    colour.loadOp = VK_ATTACHMENT_LOAD_OP_LOAD;
    if (target != 0) {
        Texture* t = pool_get(s.textures, target);
        if (!t || !t->render_target) {
            p.target_failed = true;
            return;
        }
        p.texture = t;
        p.format = t->vk_format;
        p.width = t->width;
        p.height = t->height;
        colour.imageView = t->view;
        VkImageLayout from = t->layout ? VkImageLayout(t->layout) : VK_IMAGE_LAYOUT_UNDEFINED;
        image_barrier(s, p.cmd, t->image, from, VK_IMAGE_LAYOUT_COLOR_ATTACHMENT_OPTIMAL,
                      VK_PIPELINE_STAGE_2_FRAGMENT_SHADER_BIT | attachment_stage,
                      VK_ACCESS_2_SHADER_SAMPLED_READ_BIT | VK_ACCESS_2_COLOR_ATTACHMENT_WRITE_BIT, attachment_stage,
                      attachment_rw);
        t->layout = VK_IMAGE_LAYOUT_COLOR_ATTACHMENT_OPTIMAL;
    } else {
        p.format = s.format;
        p.width = int(s.extent.width);
        p.height = int(s.extent.height);
        colour.imageView = s.image_views[p.image];
        if (!p.begun_window) {
            const Draw_List& list = *p.list;
            if (list.clear) {
                colour.loadOp = VK_ATTACHMENT_LOAD_OP_CLEAR;
                for (int i = 0; i < 4; ++i) colour.clearValue.color.float32[i] = float(list.clear_colour >> (8 * i) & 0xFF) / 255.0f;
            } else if (!p.window_kept) {
                colour.loadOp = VK_ATTACHMENT_LOAD_OP_CLEAR;
            }
        }
        p.begun_window = true;
    }
    VkRenderingInfo info{};
    info.sType = VK_STRUCTURE_TYPE_RENDERING_INFO;
    info.renderArea = {{0, 0}, {uint32_t(p.width), uint32_t(p.height)}};
    info.layerCount = 1;
    info.colorAttachmentCount = 1;
    info.pColorAttachments = &colour;
    s.fd.vkCmdBeginRendering(p.cmd, &info);
    VkViewport viewport{0, 0, float(p.width), float(p.height), 0, 1};
    s.fd.vkCmdSetViewport(p.cmd, 0, 1, &viewport);
    p.push[0] = 2.0f / float(p.width);
    p.push[1] = 2.0f / float(p.height);
    p.push[2] = -1.0f;
    p.push[3] = -1.0f;
    push_target_constants(s, p, s.pipeline_layout);
}

void end_target(Vk_State& s, Target_Pass& p) {
    p.active = false;
    if (p.target_failed) return;
    finish_target(s, p);
}

bool set_scissor(Vk_State& s, Target_Pass& p, const Draw_Command& c) {
    int64_t x0 = std::max<int64_t>(c.clip.x, 0), x1 = std::min<int64_t>(c.clip.x + c.clip.width, p.width);
    int64_t y0 = std::max<int64_t>(c.clip.y, 0), y1 = std::min<int64_t>(c.clip.y + c.clip.height, p.height);
    if (x0 >= x1 || y0 >= y1) return false;
    VkRect2D r{{int32_t(x0), int32_t(y0)}, {uint32_t(x1 - x0), uint32_t(y1 - y0)}};
    s.fd.vkCmdSetScissor(p.cmd, 0, 1, &r);
    return true;
}

bool grow(Vk_State& s, Staging& b, VkDeviceSize size, VkBufferUsageFlags usage) {
    if (b.buffer && b.size >= size) return true;
    destroy_staging(s, b);
    VkDeviceSize want = std::max<VkDeviceSize>(size, 65536);
    if (!make_buffer(s, want, usage, b)) {
        log_printf(Log_Level::Error, "ren_vulkan: no memory for a %llu byte buffer", (unsigned long long)want);
        return false;
    }
    return true;
}

bool ensure_frame_buffers(Vk_State& s, Frame& fr, VkDeviceSize vertex_bytes, VkDeviceSize index_bytes) {
    if (fr.vertices.size < vertex_bytes && !grow(s, fr.vertices, vertex_bytes * 2, VK_BUFFER_USAGE_VERTEX_BUFFER_BIT))
        return false;
    if (fr.indices.size < index_bytes && !grow(s, fr.indices, index_bytes * 2, VK_BUFFER_USAGE_INDEX_BUFFER_BIT))
        return false;
    return true;
}

bool ensure_frame_uniforms(Vk_State& s, Frame& fr, VkDeviceSize bytes) {
    VkDeviceSize needed = bytes + VkDeviceSize(s.uniform_limit);
    if (fr.uniforms.size < needed) {
        destroy_staging(s, fr.uniforms);
        VkDeviceSize want = std::max<VkDeviceSize>(4 * VkDeviceSize(s.uniform_limit), 2 * needed);
        if (!make_buffer(s, want, VK_BUFFER_USAGE_UNIFORM_BUFFER_BIT, fr.uniforms)) {
            log_printf(Log_Level::Error, "ren_vulkan: no memory for a %llu byte uniform buffer", (unsigned long long)want);
            return false;
        }
    }
    if (fr.uniforms.buffer != fr.uniform_written) {
        VkDescriptorBufferInfo buf{fr.uniforms.buffer, 0, VkDeviceSize(s.uniform_limit)};
        VkWriteDescriptorSet w{};
        w.sType = VK_STRUCTURE_TYPE_WRITE_DESCRIPTOR_SET;
        w.dstSet = fr.uniform_set;
        w.descriptorCount = 1;
        w.descriptorType = VK_DESCRIPTOR_TYPE_UNIFORM_BUFFER_DYNAMIC;
        w.pBufferInfo = &buf;
        s.fd.vkUpdateDescriptorSets(s.device, 1, &w, 0, nullptr);
        fr.uniform_written = fr.uniforms.buffer;
    }
    return true;
}

void draw_custom(Vk_State& s, Target_Pass& p, Frame& fr, const Draw_Command& c) {
    auto& f = s.fd;
    Shader* sh = pool_get(s.shaders, c.shader);
    if (!sh || p.custom_commands >= custom_sets_per_frame) return;
    if (!set_scissor(s, p, c)) return;
    VkPipeline pipeline = get_pipeline(s, {uint32_t(p.format), c.shader, Material::Solid, c.blend});
    if (!pipeline) return;
    VkDescriptorSetAllocateInfo alloc{};
    alloc.sType = VK_STRUCTURE_TYPE_DESCRIPTOR_SET_ALLOCATE_INFO;
    alloc.descriptorPool = fr.texture_pool;
    alloc.descriptorSetCount = 1;
    alloc.pSetLayouts = &sh->set_layout;
    VkDescriptorSet set = VK_NULL_HANDLE;
    if (f.vkAllocateDescriptorSets(s.device, &alloc, &set) != VK_SUCCESS) return;
    ++p.custom_commands;
    VkDescriptorImageInfo images[shader_max_textures]{};
    VkWriteDescriptorSet writes[shader_max_textures]{};
    const Texture* white = pool_get(s.textures, s.white);
    for (int j = 0; j < sh->texture_count; ++j) {
        const Texture* t = nullptr;
        if (uint32_t(j) < c.texture_count) {
            Handle h = p.list->texture_lists[c.texture_offset + uint32_t(j)];
            if (h != 0 && h != p.target) t = pool_get(s.textures, h);
        }
        if (!t) t = white;
        images[j] = {t->sampler, t->view, VK_IMAGE_LAYOUT_SHADER_READ_ONLY_OPTIMAL};
        writes[j].sType = VK_STRUCTURE_TYPE_WRITE_DESCRIPTOR_SET;
        writes[j].dstSet = set;
        writes[j].dstBinding = uint32_t(j);
        writes[j].descriptorCount = 1;
        writes[j].descriptorType = VK_DESCRIPTOR_TYPE_COMBINED_IMAGE_SAMPLER;
        writes[j].pImageInfo = &images[j];
    }
    if (sh->texture_count > 0) f.vkUpdateDescriptorSets(s.device, uint32_t(sh->texture_count), writes, 0, nullptr);
    if (p.pushed_layout != sh->layout) push_target_constants(s, p, sh->layout);
    if (p.pipeline != pipeline) {
        f.vkCmdBindPipeline(p.cmd, VK_PIPELINE_BIND_POINT_GRAPHICS, pipeline);
        p.pipeline = pipeline;
    }
    VkDescriptorSet sets[2] = {fr.uniform_set, set};
    uint32_t offset = c.uniform_offset;
    f.vkCmdBindDescriptorSets(p.cmd, VK_PIPELINE_BIND_POINT_GRAPHICS, sh->layout, 0, 2, sets, 1, &offset);
    // Set 0 now holds the uniforms: the next built-in command binds its
    // texture set again.
    p.texture_set = VK_NULL_HANDLE;
    f.vkCmdDrawIndexed(p.cmd, c.index_count, 1, c.first_index, 0, 0);
}

void draw_builtin(Vk_State& s, Target_Pass& p, const Draw_Command& c) {
    auto& f = s.fd;
    Handle h = c.texture ? c.texture : s.white;
    if (h == p.target) return;
    Texture* t = pool_get(s.textures, h);
    if (!t || !set_scissor(s, p, c)) return;
    VkPipeline pipeline = get_pipeline(s, {uint32_t(p.format), 0, c.material, c.blend});
    if (!pipeline) return;
    if (p.pushed_layout != s.pipeline_layout) push_target_constants(s, p, s.pipeline_layout);
    if (p.pipeline != pipeline) {
        f.vkCmdBindPipeline(p.cmd, VK_PIPELINE_BIND_POINT_GRAPHICS, pipeline);
        p.pipeline = pipeline;
    }
    if (p.texture_set != t->set) {
        f.vkCmdBindDescriptorSets(p.cmd, VK_PIPELINE_BIND_POINT_GRAPHICS, s.pipeline_layout, 0, 1, &t->set, 0, nullptr);
        p.texture_set = t->set;
    }
    f.vkCmdDrawIndexed(p.cmd, c.index_count, 1, c.first_index, 0, 0);
}

// Copies the window image into the frame's capture buffer (the image is in
// COLOR_ATTACHMENT_OPTIMAL and is left in TRANSFER_SRC_OPTIMAL).
bool record_capture(Vk_State& s, Frame& fr, VkCommandBuffer cmd, VkImage image) {
    VkDeviceSize bytes = VkDeviceSize(s.extent.width) * s.extent.height * 4;
    if (fr.capture.size < bytes) {
        destroy_staging(s, fr.capture);
        if (!make_buffer(s, bytes, VK_BUFFER_USAGE_TRANSFER_DST_BIT, fr.capture)) return false;
    }
    image_barrier(s, cmd, image, VK_IMAGE_LAYOUT_COLOR_ATTACHMENT_OPTIMAL, VK_IMAGE_LAYOUT_TRANSFER_SRC_OPTIMAL,
                  attachment_stage, VK_ACCESS_2_COLOR_ATTACHMENT_WRITE_BIT, VK_PIPELINE_STAGE_2_TRANSFER_BIT,
                  VK_ACCESS_2_TRANSFER_READ_BIT);
    VkBufferImageCopy region{};
    region.imageSubresource = {VK_IMAGE_ASPECT_COLOR_BIT, 0, 0, 1};
    region.imageExtent = {s.extent.width, s.extent.height, 1};
    s.fd.vkCmdCopyImageToBuffer(cmd, image, VK_IMAGE_LAYOUT_TRANSFER_SRC_OPTIMAL, fr.capture.buffer, 1, &region);
    return true;
}

// A frame slot's fence (signalled) and acquire semaphore made again after
// a submit that failed. False when they cannot be made: the device then
// counts as lost.
bool renew_frame_sync(Vk_State& s, Frame& fr) {
    auto& f = s.fd;
    f.vkDeviceWaitIdle(s.device);
    f.vkDestroyFence(s.device, fr.fence, nullptr);
    fr.fence = VK_NULL_HANDLE;
    VkFenceCreateInfo fence{};
    fence.sType = VK_STRUCTURE_TYPE_FENCE_CREATE_INFO;
    fence.flags = VK_FENCE_CREATE_SIGNALED_BIT;
    bool ok = f.vkCreateFence(s.device, &fence, nullptr, &fr.fence) == VK_SUCCESS;
    if (ok && !s.offscreen) {
        f.vkDestroySemaphore(s.device, fr.acquired, nullptr);
        fr.acquired = VK_NULL_HANDLE;
        VkSemaphoreCreateInfo sem{};
        sem.sType = VK_STRUCTURE_TYPE_SEMAPHORE_CREATE_INFO;
        ok = f.vkCreateSemaphore(s.device, &sem, nullptr, &fr.acquired) == VK_SUCCESS;
    }
    if (!ok) s.device_lost = true;
    return ok;
}

int render(Vk_State& s, const Draw_List& list) {
    auto& f = s.fd;
    if (s.device_lost) return 2;
    int chain = create_swapchain(s);
    if (chain == 1) return 1;
    if (chain == 2) return s.device_lost ? 2 : 1;

    Frame& fr = s.frames[s.frame_index];
    VkResult r = note_result(s, f.vkWaitForFences(s.device, 1, &fr.fence, VK_TRUE, s.fence_timeout_ns));
    if (r == VK_TIMEOUT) {
        // A frame that never ends: the device no longer works for us.
        log_printf(Log_Level::Error, "ren_vulkan: a frame did not finish in %llu ms; the device counts as lost",
                   static_cast<unsigned long long>(s.fence_timeout_ns / 1000000));
        s.device_lost = true;
        return 2;
    }
    if (r != VK_SUCCESS) return s.device_lost ? 2 : 1;
    run_deferred(s, s.frame_number > 0 ? s.frame_number - 1 : 0, false);
    f.vkResetDescriptorPool(s.device, fr.texture_pool, 0);

    uint32_t image = 0;
    if (!s.offscreen) {
        r = note_result(s, f.vkAcquireNextImageKHR(s.device, s.swapchain, 1000000000ull, fr.acquired, VK_NULL_HANDLE,
                                                   &image));
        if (r == VK_ERROR_DEVICE_LOST) return 2;
        if (r == VK_NOT_READY || r == VK_TIMEOUT) return 1;
        if (r != VK_SUCCESS && r != VK_SUBOPTIMAL_KHR) {
            s.stale = true;
            return 1;
        }
    }
    f.vkResetFences(s.device, 1, &fr.fence);

    bool buffers_ok = ensure_frame_buffers(s, fr, VkDeviceSize(list.vertices.size()) * sizeof(Vertex),
                                           VkDeviceSize(list.indices.size()) * 4);
    if (buffers_ok && !list.vertices.empty()) {
        std::memcpy(fr.vertices.mapped, list.vertices.data(), list.vertices.size() * sizeof(Vertex));
        std::memcpy(fr.indices.mapped, list.indices.data(), list.indices.size() * 4);
    }
    if (buffers_ok && !list.uniforms.empty()) {
        buffers_ok = ensure_frame_uniforms(s, fr, list.uniforms.size());
        if (buffers_ok) std::memcpy(fr.uniforms.mapped, list.uniforms.data(), list.uniforms.size());
    }

    f.vkResetCommandPool(s.device, fr.command_pool, 0);
    VkCommandBuffer cmd = fr.command_buffer;
    VkCommandBufferBeginInfo begin{};
    begin.sType = VK_STRUCTURE_TYPE_COMMAND_BUFFER_BEGIN_INFO;
    begin.flags = VK_COMMAND_BUFFER_USAGE_ONE_TIME_SUBMIT_BIT;
    f.vkBeginCommandBuffer(cmd, &begin);
    record_uploads(s, cmd);

    VkImage window_image = s.images[image];
    bool kept = !list.clear && s.image_layouts[image] == uint32_t(final_layout(s));
    image_barrier(s, cmd, window_image, kept ? final_layout(s) : VK_IMAGE_LAYOUT_UNDEFINED,
                  VK_IMAGE_LAYOUT_COLOR_ATTACHMENT_OPTIMAL, attachment_stage | VK_PIPELINE_STAGE_2_TRANSFER_BIT, 0,
                  attachment_stage, attachment_rw);
    if (buffers_ok && !list.vertices.empty()) {
        VkDeviceSize zero = 0;
        f.vkCmdBindVertexBuffers(cmd, 0, 1, &fr.vertices.buffer, &zero);
        f.vkCmdBindIndexBuffer(cmd, fr.indices.buffer, 0, VK_INDEX_TYPE_UINT32);
    }

    Target_Pass p;
    p.cmd = cmd;
    p.image = image;
    p.window_kept = kept;
    p.list = &list;
    for (const Draw_Command& c : list.commands) {
        if (p.active && c.target != p.target) {
            if (!p.target_failed) finish_target(s, p);
            begin_target(s, p, c.target);
        } else if (!p.active) {
            begin_target(s, p, c.target);
        }
        if (p.target_failed || !buffers_ok || c.index_count == 0) continue;
        if (c.shader != 0) {
            draw_custom(s, p, fr, c);
        } else {
            draw_builtin(s, p, c);
        }
    }
    if (p.active) end_target(s, p);
    if (!p.begun_window) {
        begin_target(s, p, 0);
        end_target(s, p);
    }

    bool captured = s.capture && s.images_readable && record_capture(s, fr, cmd, window_image);
    if (captured) {
        if (!s.offscreen) {
            image_barrier(s, cmd, window_image, VK_IMAGE_LAYOUT_TRANSFER_SRC_OPTIMAL, VK_IMAGE_LAYOUT_PRESENT_SRC_KHR,
                          VK_PIPELINE_STAGE_2_TRANSFER_BIT, 0, VK_PIPELINE_STAGE_2_BOTTOM_OF_PIPE_BIT, 0);
        }
    } else {
        image_barrier(s, cmd, window_image, VK_IMAGE_LAYOUT_COLOR_ATTACHMENT_OPTIMAL, final_layout(s), attachment_stage,
                      VK_ACCESS_2_COLOR_ATTACHMENT_WRITE_BIT, VK_PIPELINE_STAGE_2_BOTTOM_OF_PIPE_BIT, 0);
    }
    s.image_layouts[image] = uint32_t(final_layout(s));
    f.vkEndCommandBuffer(cmd);

    VkPipelineStageFlags wait_stage = VK_PIPELINE_STAGE_COLOR_ATTACHMENT_OUTPUT_BIT;
    VkSubmitInfo submit{};
    submit.sType = VK_STRUCTURE_TYPE_SUBMIT_INFO;
    if (!s.offscreen) {
        submit.waitSemaphoreCount = 1;
        submit.pWaitSemaphores = &fr.acquired;
        submit.pWaitDstStageMask = &wait_stage;
        submit.signalSemaphoreCount = 1;
        submit.pSignalSemaphores = &s.image_semaphores[image];
    }
    submit.commandBufferCount = 1;
    submit.pCommandBuffers = &cmd;
    r = note_result(s, f.vkQueueSubmit(s.queue, 1, &submit, fr.fence));
    if (r != VK_SUCCESS) {
        log_printf(Log_Level::Error, "ren_vulkan: submitting a frame failed: %s", result_name(r));
        if (s.device_lost) return 2;
        // The fence was reset and nothing will signal it, nor wait on the
        // acquire's semaphore: both are made anew for the slot's next frame.
        return renew_frame_sync(s, fr) ? 1 : 2;
    }
    if (captured) {
        s.captured_frame = s.frame_index;
        s.captured_width = int(s.extent.width);
        s.captured_height = int(s.extent.height);
        s.captured_format = s.format;
    }
    s.frame_index = (s.frame_index + 1) % frames_in_flight;
    ++s.frame_number;
    if (s.offscreen) return 0;

    VkPresentInfoKHR present{};
    present.sType = VK_STRUCTURE_TYPE_PRESENT_INFO_KHR;
    present.waitSemaphoreCount = 1;
    present.pWaitSemaphores = &s.image_semaphores[image];
    present.swapchainCount = 1;
    present.pSwapchains = &s.swapchain;
    present.pImageIndices = &image;
    r = note_result(s, f.vkQueuePresentKHR(s.queue, &present));
    if (r == VK_SUCCESS || r == VK_SUBOPTIMAL_KHR) return 0;
    if (r == VK_ERROR_DEVICE_LOST) return 2;
    s.stale = true;
    return 1;
}

}  // namespace

void backend_resize(Backend& b, int width, int height) {
    Vk_State& s = state_of(b);
    s.window_width = width;
    s.window_height = height;
}

void backend_render_slot(Backend& b, const Draw_List& list) {
    Vk_State& s = state_of(b);
    s.last_result = render(s, list);
    if (s.last_result == 0) ++b.presented;
}

int vulkan_last_render_result(Backend& b) { return b.state ? state_of(b).last_result : 0; }

int vulkan_swapchain_rebuilds(Backend& b) { return b.state ? state_of(b).swapchain_rebuilds : 0; }

void vulkan_capture_frames(Backend& b, bool on) {
    if (!b.state) return;
    Vk_State& s = state_of(b);
    s.capture = on || s.offscreen;
}

Texture_Pixels vulkan_read_frame(Backend& b) {
    if (!b.state) return {};
    Vk_State& s = state_of(b);
    if (s.device_lost || s.captured_frame < 0) return {};
    s.fd.vkDeviceWaitIdle(s.device);
    const Staging& c = s.frames[s.captured_frame].capture;
    Texture_Pixels out;
    out.width = s.captured_width;
    out.height = s.captured_height;
    out.format = Pixel_Format::RGBA8;
    const uint8_t* p = static_cast<const uint8_t*>(c.mapped);
    out.pixels.assign(p, p + size_t(out.width) * size_t(out.height) * 4);
    bool bgra = s.captured_format == VK_FORMAT_B8G8R8A8_UNORM || s.captured_format == VK_FORMAT_B8G8R8A8_SRGB;
    if (bgra) {
        for (size_t i = 0; i + 3 < out.pixels.size(); i += 4) std::swap(out.pixels[i], out.pixels[i + 2]);
    }
    return out;
}
