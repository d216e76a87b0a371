// The swapchain of the window's surface, made again when the window's size
// changes or presentation says it no longer fits; and the offscreen
// backend's own window image.
#include <algorithm>

#include "engine/kt_render/vulkan/vk_state.h"
#include "engine/kt_system/log.h"

Surface_Format choose_surface_format(std::span<const Surface_Format> offered) {
    if (offered.empty()) return {};
    for (VkFormat want : {VK_FORMAT_B8G8R8A8_UNORM, VK_FORMAT_R8G8B8A8_UNORM}) {
        for (const Surface_Format& f : offered) {
            if (f.format == uint32_t(want) && f.colour_space == uint32_t(VK_COLOR_SPACE_SRGB_NONLINEAR_KHR)) return f;
        }
    }
    return offered[0];
}

Present_Choice choose_present_mode(std::span<const uint32_t> modes, uint32_t min_images, uint32_t max_images) {
    Present_Choice c;
    bool mailbox = std::find(modes.begin(), modes.end(), uint32_t(VK_PRESENT_MODE_MAILBOX_KHR)) != modes.end();
    if (mailbox) {
        c.mode = VK_PRESENT_MODE_MAILBOX_KHR;
        c.images = std::max(min_images + 1, 3u);
    } else {
        c.mode = VK_PRESENT_MODE_FIFO_KHR;
        c.images = min_images + 1;
    }
    if (max_images != 0) c.images = std::min(c.images, max_images);
    return c;
}

void destroy_swapchain_objects(Vk_State& s) {
    auto& f = s.fd;
    for (VkImageView v : s.image_views) {
        if (v) f.vkDestroyImageView(s.device, v, nullptr);
    }
    for (VkSemaphore sem : s.image_semaphores) {
        if (sem) f.vkDestroySemaphore(s.device, sem, nullptr);
    }
    if (s.offscreen) {
        for (VkImage im : s.images) {
            if (im) f.vkDestroyImage(s.device, im, nullptr);
        }
        if (s.offscreen_memory) f.vkFreeMemory(s.device, s.offscreen_memory, nullptr);
        s.offscreen_memory = VK_NULL_HANDLE;
    }
    s.image_views.clear();
    s.image_semaphores.clear();
    s.images.clear();
    s.image_layouts.clear();
    if (s.swapchain) f.vkDestroySwapchainKHR(s.device, s.swapchain, nullptr);
    s.swapchain = VK_NULL_HANDLE;
}

namespace {

bool make_image_view(Vk_State& s, VkImage image, VkFormat format, VkImageView& out) {
    VkImageViewCreateInfo info{};
    info.sType = VK_STRUCTURE_TYPE_IMAGE_VIEW_CREATE_INFO;
    info.image = image;
    info.viewType = VK_IMAGE_VIEW_TYPE_2D;
    info.format = format;
    info.subresourceRange = {VK_IMAGE_ASPECT_COLOR_BIT, 0, 1, 0, 1};
    return s.fd.vkCreateImageView(s.device, &info, nullptr, &out) == VK_SUCCESS;
}

}  // namespace

bool create_offscreen_image(Vk_State& s) {
    auto& f = s.fd;
    f.vkDeviceWaitIdle(s.device);
    destroy_swapchain_objects(s);
    s.format = VK_FORMAT_R8G8B8A8_UNORM;
    s.extent = {uint32_t(std::max(s.window_width, 1)), uint32_t(std::max(s.window_height, 1))};
    s.images_readable = true;
    s.stale = false;
    VkImageCreateInfo info{};
    info.sType = VK_STRUCTURE_TYPE_IMAGE_CREATE_INFO;
    info.imageType = VK_IMAGE_TYPE_2D;
    info.format = s.format;
    info.extent = {s.extent.width, s.extent.height, 1};
    info.mipLevels = 1;
    info.arrayLayers = 1;
    info.samples = VK_SAMPLE_COUNT_1_BIT;
    info.tiling = VK_IMAGE_TILING_OPTIMAL;
    info.usage = VK_IMAGE_USAGE_COLOR_ATTACHMENT_BIT | VK_IMAGE_USAGE_TRANSFER_SRC_BIT;
    VkImage image = VK_NULL_HANDLE;
    if (f.vkCreateImage(s.device, &info, nullptr, &image) != VK_SUCCESS) return false;
    s.images.push_back(image);
    s.image_views.push_back(VK_NULL_HANDLE);
    s.image_semaphores.push_back(VK_NULL_HANDLE);
    s.image_layouts.push_back(0);
    VkMemoryRequirements req{};
    f.vkGetImageMemoryRequirements(s.device, image, &req);
    uint32_t type = UINT32_MAX;
    for (uint32_t i = 0; i < s.memory.memoryTypeCount; ++i) {
        if ((req.memoryTypeBits & (1u << i)) &&
            (s.memory.memoryTypes[i].propertyFlags & VK_MEMORY_PROPERTY_DEVICE_LOCAL_BIT)) {
            type = i;
            break;
        }
    }
    if (type == UINT32_MAX) return false;
    VkMemoryAllocateInfo alloc{};
    alloc.sType = VK_STRUCTURE_TYPE_MEMORY_ALLOCATE_INFO;
    alloc.allocationSize = req.size;
    alloc.memoryTypeIndex = type;
    if (f.vkAllocateMemory(s.device, &alloc, nullptr, &s.offscreen_memory) != VK_SUCCESS) return false;
    if (f.vkBindImageMemory(s.device, image, s.offscreen_memory, 0) != VK_SUCCESS) return false;
    return make_image_view(s, image, s.format, s.image_views[0]);
}

int create_swapchain(Vk_State& s) {
    if (s.offscreen) {
        if (s.window_width < 1 || s.window_height < 1) return 1;
        if (!s.stale && !s.images.empty() && s.extent.width == uint32_t(s.window_width) &&
            s.extent.height == uint32_t(s.window_height))
            return 0;
        if (!s.images.empty()) ++s.swapchain_rebuilds;
        return create_offscreen_image(s) ? 0 : 2;
    }
    auto& fi = s.fi;
    auto& f = s.fd;
    VkSurfaceCapabilitiesKHR caps{};
    VkResult r = note_result(s, fi.vkGetPhysicalDeviceSurfaceCapabilitiesKHR(s.physical, s.surface, &caps));
    if (r != VK_SUCCESS) return 2;
    VkExtent2D extent = caps.currentExtent;
    if (caps.currentExtent.width == 0xFFFFFFFFu) {
        extent.width = std::clamp(uint32_t(std::max(s.window_width, 0)), caps.minImageExtent.width, caps.maxImageExtent.width);
        extent.height =
            std::clamp(uint32_t(std::max(s.window_height, 0)), caps.minImageExtent.height, caps.maxImageExtent.height);
    }
    if (extent.width == 0 || extent.height == 0) return 1;
    if (s.swapchain && !s.stale && extent.width == s.extent.width && extent.height == s.extent.height) return 0;

    uint32_t n = 0;
    fi.vkGetPhysicalDeviceSurfaceFormatsKHR(s.physical, s.surface, &n, nullptr);
    std::vector<VkSurfaceFormatKHR> formats(n);
    if (n) fi.vkGetPhysicalDeviceSurfaceFormatsKHR(s.physical, s.surface, &n, formats.data());
    formats.resize(n);
    if (formats.empty()) {
        log_printf(Log_Level::Error, "ren_vulkan: the surface offers no formats");
        return 2;
    }
    std::vector<Surface_Format> offered;
    for (const VkSurfaceFormatKHR& sf : formats) offered.push_back({uint32_t(sf.format), uint32_t(sf.colorSpace)});
    Surface_Format chosen = choose_surface_format(offered);

    uint32_t mn = 0;
    fi.vkGetPhysicalDeviceSurfacePresentModesKHR(s.physical, s.surface, &mn, nullptr);
    std::vector<VkPresentModeKHR> modes(mn);
    if (mn) fi.vkGetPhysicalDeviceSurfacePresentModesKHR(s.physical, s.surface, &mn, modes.data());
    std::vector<uint32_t> mode_numbers;
    for (uint32_t i = 0; i < mn; ++i) mode_numbers.push_back(uint32_t(modes[i]));
    Present_Choice present = choose_present_mode(mode_numbers, caps.minImageCount, caps.maxImageCount);

    VkCompositeAlphaFlagBitsKHR alpha = VK_COMPOSITE_ALPHA_OPAQUE_BIT_KHR;
    for (VkCompositeAlphaFlagBitsKHR a : {VK_COMPOSITE_ALPHA_OPAQUE_BIT_KHR, VK_COMPOSITE_ALPHA_PRE_MULTIPLIED_BIT_KHR,
                                          VK_COMPOSITE_ALPHA_POST_MULTIPLIED_BIT_KHR, VK_COMPOSITE_ALPHA_INHERIT_BIT_KHR}) {
        if (caps.supportedCompositeAlpha & a) {
            alpha = a;
            break;
        }
    }
    f.vkDeviceWaitIdle(s.device);

    // Images that can also be copied out (frame capture) where the surface allows.
    bool readable = (caps.supportedUsageFlags & VK_IMAGE_USAGE_TRANSFER_SRC_BIT) != 0;
    VkSwapchainCreateInfoKHR info{};
    info.sType = VK_STRUCTURE_TYPE_SWAPCHAIN_CREATE_INFO_KHR;
    info.surface = s.surface;
    info.minImageCount = present.images;
    info.imageFormat = VkFormat(chosen.format);
    info.imageColorSpace = VkColorSpaceKHR(chosen.colour_space);
    info.imageExtent = extent;
    info.imageArrayLayers = 1;
    info.imageUsage = VK_IMAGE_USAGE_COLOR_ATTACHMENT_BIT | (readable ? VK_IMAGE_USAGE_TRANSFER_SRC_BIT : 0);
    info.imageSharingMode = VK_SHARING_MODE_EXCLUSIVE;
    info.preTransform = caps.currentTransform;
    info.compositeAlpha = alpha;
    info.presentMode = VkPresentModeKHR(present.mode);
    info.clipped = VK_TRUE;
    info.oldSwapchain = s.swapchain;
    VkSwapchainKHR made = VK_NULL_HANDLE;
    r = note_result(s, f.vkCreateSwapchainKHR(s.device, &info, nullptr, &made));
    if (r != VK_SUCCESS) {
        log_printf(Log_Level::Error, "ren_vulkan: creating the swapchain failed: %s", result_name(r));
        return 2;
    }
    bool first = s.swapchain == VK_NULL_HANDLE;
    if (!first) ++s.swapchain_rebuilds;
    destroy_swapchain_objects(s);
    s.swapchain = made;
    s.format = VkFormat(chosen.format);
    s.colour_space = VkColorSpaceKHR(chosen.colour_space);
    s.extent = extent;
    s.present_mode = VkPresentModeKHR(present.mode);
    s.images_readable = readable;
    s.captured_frame = -1;

    // Until every image has its view and semaphore the swapchain stays
    // stale, so that a failure here is retried by the next frame.
    s.stale = true;
    uint32_t count = 0;
    if (f.vkGetSwapchainImagesKHR(s.device, s.swapchain, &count, nullptr) != VK_SUCCESS) return 2;
    s.images.resize(count);
    if (f.vkGetSwapchainImagesKHR(s.device, s.swapchain, &count, s.images.data()) != VK_SUCCESS) return 2;
    s.image_views.assign(count, VK_NULL_HANDLE);
    s.image_semaphores.assign(count, VK_NULL_HANDLE);
    s.image_layouts.assign(count, 0);
    for (uint32_t i = 0; i < count; ++i) {
        if (!make_image_view(s, s.images[i], s.format, s.image_views[i])) return 2;
        VkSemaphoreCreateInfo sem{};
        sem.sType = VK_STRUCTURE_TYPE_SEMAPHORE_CREATE_INFO;
        if (f.vkCreateSemaphore(s.device, &sem, nullptr, &s.image_semaphores[i]) != VK_SUCCESS) return 2;
    }
    s.stale = false;
    if (first) {
        log_printf(Log_Level::Info, "ren_vulkan: swapchain %ux%u, %u images, %s, present mode %s", extent.width,
                   extent.height, count, format_name(s.format),
                   s.present_mode == VK_PRESENT_MODE_MAILBOX_KHR ? "mailbox" : "fifo (vsync)");
    }
    return 0;
}
