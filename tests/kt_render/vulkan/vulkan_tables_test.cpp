// The Vulkan backend's pure choices: the device, the loader version, the
// swapchain's format, present mode and image count.
#include <gtest/gtest.h>

#include <vulkan/vulkan_core.h>

#include "engine/kt_render/vulkan/vulkan_backend.h"

namespace {

Device_Facts good(const char* name, bool discrete, uint32_t version = VK_API_VERSION_1_3) {
    Device_Facts d;
    d.name = name;
    d.api_version = version;
    d.discrete = discrete;
    d.has_dynamic_rendering = d.has_synchronization2 = d.dynamic_rendering_on = d.synchronization2_on = true;
    d.has_swapchain = true;
    d.family = 0;
    return d;
}

TEST(VulkanChoice, Devices) {
    Device_Facts no_sync2 = good("Old GPU", true, VK_API_VERSION_1_2);
    no_sync2.has_synchronization2 = false;
    Device_Facts v11 = good("Ancient", true, VK_API_VERSION_1_1);
    Device_Facts no_chain = good("Headless", true);
    no_chain.has_swapchain = false;
    Device_Facts no_queue = good("Compute", true);
    no_queue.family = -1;
    struct Row {
        const char* what;
        std::vector<Device_Facts> devices;
        int index;   // -1: none
        std::string reason;
    } rows[] = {
        {"integrated before discrete: the discrete one", {good("iGPU", false), good("dGPU", true)}, 1, ""},
        {"two discrete: the first", {good("A", true), good("B", true)}, 0, ""},
        {"only integrated", {good("iGPU", false)}, 0, ""},
        {"a 1.2 device without synchronization2 listed last",
         {good("iGPU", false), no_sync2},
         0,
         ""},
        {"the last reason is given",
         {v11, no_sync2},
         -1,
         "Old GPU: Vulkan 1.2 without dynamic rendering / synchronization2"},
        {"a 1.1 device", {v11}, -1, "Ancient: Vulkan 1.1, 1.2 is needed"},
        {"no swapchain", {no_chain}, -1, "Headless: no VK_KHR_swapchain"},
        {"no queue", {no_queue}, -1, "Compute: no queue that draws and presents"},
        {"no devices", {}, -1, "no Vulkan device"},
    };
    for (const Row& r : rows) {
        Device_Choice c = choose_device(r.devices);
        EXPECT_EQ(c.found, r.index >= 0) << r.what;
        EXPECT_EQ(c.index, r.index) << r.what;
        EXPECT_EQ(c.reason, r.reason) << r.what;
    }
}

TEST(VulkanChoice, LoaderVersion) {
    EXPECT_EQ(loader_version_problem(0), "the Vulkan loader is older than 1.1");
    EXPECT_EQ(loader_version_problem(VK_API_VERSION_1_1), "the Vulkan loader is 1.1, 1.2 is needed");
    EXPECT_EQ(loader_version_problem(VK_API_VERSION_1_2), "");
    EXPECT_EQ(loader_version_problem(VK_MAKE_API_VERSION(0, 1, 3, 239)), "");
}

TEST(VulkanChoice, SurfaceFormats) {
    constexpr uint32_t srgb = VK_COLOR_SPACE_SRGB_NONLINEAR_KHR;
    struct Row {
        const char* what;
        std::vector<Surface_Format> offered;
        uint32_t format;
    } rows[] = {
        {"BGRA8 first", {{VK_FORMAT_R8G8B8A8_UNORM, srgb}, {VK_FORMAT_B8G8R8A8_UNORM, srgb}}, VK_FORMAT_B8G8R8A8_UNORM},
        {"BGRA8 sRGB is passed over", {{VK_FORMAT_B8G8R8A8_SRGB, srgb}, {VK_FORMAT_R8G8B8A8_UNORM, srgb}},
         VK_FORMAT_R8G8B8A8_UNORM},
        {"another colour space is passed over",
         {{VK_FORMAT_B8G8R8A8_UNORM, VK_COLOR_SPACE_DISPLAY_P3_NONLINEAR_EXT}, {VK_FORMAT_R8G8B8A8_UNORM, srgb}},
         VK_FORMAT_R8G8B8A8_UNORM},
        {"else the first offered", {{VK_FORMAT_A2B10G10R10_UNORM_PACK32, srgb}, {VK_FORMAT_B8G8R8A8_SRGB, srgb}},
         VK_FORMAT_A2B10G10R10_UNORM_PACK32},
    };
    for (const Row& r : rows) EXPECT_EQ(choose_surface_format(r.offered).format, r.format) << r.what;
}

TEST(VulkanChoice, PresentModes) {
    const uint32_t mailbox = VK_PRESENT_MODE_MAILBOX_KHR, fifo = VK_PRESENT_MODE_FIFO_KHR,
                   immediate = VK_PRESENT_MODE_IMMEDIATE_KHR;
    struct Row {
        const char* what;
        std::vector<uint32_t> modes;
        uint32_t min, max;
        Present_Choice want;
    } rows[] = {
        {"mailbox: at least 3 images", {fifo, mailbox}, 2, 8, {mailbox, 3}},
        {"mailbox: min + 1 above 3", {mailbox, fifo}, 3, 0, {mailbox, 4}},
        {"mailbox with min = max = 2", {mailbox, fifo}, 2, 2, {mailbox, 2}},
        {"fifo: min + 1", {immediate, fifo}, 2, 8, {fifo, 3}},
        {"fifo with min = max = 2", {fifo}, 2, 2, {fifo, 2}},
    };
    for (const Row& r : rows) {
        Present_Choice c = choose_present_mode(r.modes, r.min, r.max);
        EXPECT_EQ(c.mode, r.want.mode) << r.what;
        EXPECT_EQ(c.images, r.want.images) << r.what;
    }
}

}  // namespace
