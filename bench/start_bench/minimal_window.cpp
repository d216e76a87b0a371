// minimal_window: the least an SDL2 + Vulkan program does before its first
// frame is on screen: a 1080x760 window, an instance with the surface
// extensions SDL names, the first device whose queue draws and presents, a
// FIFO swapchain, one image cleared and presented. start_bench's peer for
// the launcher's start; it prints "presented" once the frame is queued.
// Exit code 1 when any step fails (the step is named on stderr).
#define VK_NO_PROTOTYPES
#include <SDL2/SDL.h>
#include <SDL2/SDL_vulkan.h>
#include <vulkan/vulkan.h>

#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

int fail(const char* step) {
    std::fprintf(stderr, "minimal_window: %s failed\n", step);
    return 1;
}

}  // namespace

int main(int, char**) {
    if (SDL_Init(SDL_INIT_VIDEO) != 0) return fail("SDL_Init");
    SDL_Window* window = SDL_CreateWindow("minimal_window", 0, 0, 1080, 760, SDL_WINDOW_VULKAN | SDL_WINDOW_SHOWN);
    if (!window) return fail("SDL_CreateWindow");
    auto gipa = reinterpret_cast<PFN_vkGetInstanceProcAddr>(SDL_Vulkan_GetVkGetInstanceProcAddr());
    if (!gipa) return fail("loading Vulkan");
#define GLOBAL(name) auto name = reinterpret_cast<PFN_##name>(gipa(nullptr, #name))
    GLOBAL(vkCreateInstance);
#undef GLOBAL

    unsigned count = 0;
    SDL_Vulkan_GetInstanceExtensions(window, &count, nullptr);
    std::vector<const char*> extensions(count);
    SDL_Vulkan_GetInstanceExtensions(window, &count, extensions.data());
    VkApplicationInfo app{};
    app.sType = VK_STRUCTURE_TYPE_APPLICATION_INFO;
    app.apiVersion = VK_API_VERSION_1_2;
    VkInstanceCreateInfo ici{};
    ici.sType = VK_STRUCTURE_TYPE_INSTANCE_CREATE_INFO;
    ici.pApplicationInfo = &app;
    ici.enabledExtensionCount = count;
    ici.ppEnabledExtensionNames = extensions.data();
    VkInstance instance;
    if (vkCreateInstance(&ici, nullptr, &instance) != VK_SUCCESS) return fail("vkCreateInstance");
#define INSTANCE(name) auto name = reinterpret_cast<PFN_##name>(gipa(instance, #name))
    INSTANCE(vkEnumeratePhysicalDevices);
    INSTANCE(vkGetPhysicalDeviceQueueFamilyProperties);
    INSTANCE(vkGetPhysicalDeviceSurfaceSupportKHR);
    INSTANCE(vkGetPhysicalDeviceSurfaceCapabilitiesKHR);
    INSTANCE(vkGetPhysicalDeviceSurfaceFormatsKHR);
    INSTANCE(vkCreateDevice);
    INSTANCE(vkGetDeviceProcAddr);
    INSTANCE(vkDestroyInstance);
    INSTANCE(vkDestroySurfaceKHR);
#undef INSTANCE
    VkSurfaceKHR surface;
    if (!SDL_Vulkan_CreateSurface(window, instance, &surface)) return fail("SDL_Vulkan_CreateSurface");

    uint32_t n = 0;
    vkEnumeratePhysicalDevices(instance, &n, nullptr);
    std::vector<VkPhysicalDevice> devices(n);
    vkEnumeratePhysicalDevices(instance, &n, devices.data());
    VkPhysicalDevice pd = VK_NULL_HANDLE;
    uint32_t family = 0;
    for (VkPhysicalDevice d : devices) {
        uint32_t qn = 0;
        vkGetPhysicalDeviceQueueFamilyProperties(d, &qn, nullptr);
        std::vector<VkQueueFamilyProperties> families(qn);
        vkGetPhysicalDeviceQueueFamilyProperties(d, &qn, families.data());
        for (uint32_t q = 0; q < qn && !pd; ++q) {
            VkBool32 presents = VK_FALSE;
            vkGetPhysicalDeviceSurfaceSupportKHR(d, q, surface, &presents);
            if ((families[q].queueFlags & VK_QUEUE_GRAPHICS_BIT) && presents) {
                pd = d;
                family = q;
            }
        }
        if (pd) break;
    }
    if (!pd) return fail("finding a device");
    float priority = 1.0f;
    VkDeviceQueueCreateInfo qci{};
    qci.sType = VK_STRUCTURE_TYPE_DEVICE_QUEUE_CREATE_INFO;
    qci.queueFamilyIndex = family;
    qci.queueCount = 1;
    qci.pQueuePriorities = &priority;
    const char* swapchain_ext = VK_KHR_SWAPCHAIN_EXTENSION_NAME;
    VkDeviceCreateInfo dci{};
    dci.sType = VK_STRUCTURE_TYPE_DEVICE_CREATE_INFO;
    dci.queueCreateInfoCount = 1;
    dci.pQueueCreateInfos = &qci;
    dci.enabledExtensionCount = 1;
    dci.ppEnabledExtensionNames = &swapchain_ext;
    VkDevice device;
    if (vkCreateDevice(pd, &dci, nullptr, &device) != VK_SUCCESS) return fail("vkCreateDevice");
#define DEVICE(name) auto name = reinterpret_cast<PFN_##name>(vkGetDeviceProcAddr(device, #name))
    DEVICE(vkGetDeviceQueue);
    DEVICE(vkCreateSwapchainKHR);
    DEVICE(vkGetSwapchainImagesKHR);
    DEVICE(vkAcquireNextImageKHR);
    DEVICE(vkQueuePresentKHR);
    DEVICE(vkCreateCommandPool);
    DEVICE(vkAllocateCommandBuffers);
    DEVICE(vkBeginCommandBuffer);
    DEVICE(vkCmdPipelineBarrier);
    DEVICE(vkCmdClearColorImage);
    DEVICE(vkEndCommandBuffer);
    DEVICE(vkQueueSubmit);
    DEVICE(vkCreateSemaphore);
    DEVICE(vkDeviceWaitIdle);
    DEVICE(vkDestroySemaphore);
    DEVICE(vkDestroyCommandPool);
    DEVICE(vkDestroySwapchainKHR);
    DEVICE(vkDestroyDevice);
#undef DEVICE
    VkQueue queue;
    vkGetDeviceQueue(device, family, 0, &queue);

    VkSurfaceCapabilitiesKHR caps;
    vkGetPhysicalDeviceSurfaceCapabilitiesKHR(pd, surface, &caps);
    uint32_t fn = 0;
    vkGetPhysicalDeviceSurfaceFormatsKHR(pd, surface, &fn, nullptr);
    std::vector<VkSurfaceFormatKHR> formats(fn);
    vkGetPhysicalDeviceSurfaceFormatsKHR(pd, surface, &fn, formats.data());
    if (formats.empty()) return fail("finding a surface format");
    VkSwapchainCreateInfoKHR sci{};
    sci.sType = VK_STRUCTURE_TYPE_SWAPCHAIN_CREATE_INFO_KHR;
    sci.surface = surface;
    sci.minImageCount = caps.minImageCount + 1;
    if (caps.maxImageCount && sci.minImageCount > caps.maxImageCount) sci.minImageCount = caps.maxImageCount;
    sci.imageFormat = formats[0].format;
    sci.imageColorSpace = formats[0].colorSpace;
    sci.imageExtent = caps.currentExtent.width != UINT32_MAX ? caps.currentExtent : VkExtent2D{1080, 760};
    sci.imageArrayLayers = 1;
    sci.imageUsage = VK_IMAGE_USAGE_TRANSFER_DST_BIT | VK_IMAGE_USAGE_COLOR_ATTACHMENT_BIT;
    sci.preTransform = caps.currentTransform;
    sci.compositeAlpha = VK_COMPOSITE_ALPHA_OPAQUE_BIT_KHR;
    sci.presentMode = VK_PRESENT_MODE_FIFO_KHR;
    sci.clipped = VK_TRUE;
    VkSwapchainKHR swapchain;
    if (vkCreateSwapchainKHR(device, &sci, nullptr, &swapchain) != VK_SUCCESS) return fail("vkCreateSwapchainKHR");
    uint32_t image_count = 0;
    vkGetSwapchainImagesKHR(device, swapchain, &image_count, nullptr);
    std::vector<VkImage> images(image_count);
    vkGetSwapchainImagesKHR(device, swapchain, &image_count, images.data());

    VkCommandPoolCreateInfo pci{};

    pci.sType = VK_STRUCTURE_TYPE_COMMAND_POOL_CREATE_INFO;
    pci.queueFamilyIndex = family;
    VkCommandPool pool;
    if (vkCreateCommandPool(device, &pci, nullptr, &pool) != VK_SUCCESS) return fail("vkCreateCommandPool");
    VkCommandBufferAllocateInfo cai{};
    cai.sType = VK_STRUCTURE_TYPE_COMMAND_BUFFER_ALLOCATE_INFO;
    cai.commandPool = pool;
    cai.level = VK_COMMAND_BUFFER_LEVEL_PRIMARY;
    cai.commandBufferCount = 1;
    VkCommandBuffer cmd;
    if (vkAllocateCommandBuffers(device, &cai, &cmd) != VK_SUCCESS) return fail("vkAllocateCommandBuffers");
    VkSemaphoreCreateInfo semi{};
    semi.sType = VK_STRUCTURE_TYPE_SEMAPHORE_CREATE_INFO;
    VkSemaphore acquired, drawn;
    vkCreateSemaphore(device, &semi, nullptr, &acquired);
    vkCreateSemaphore(device, &semi, nullptr, &drawn);
    uint32_t index = 0;
    if (vkAcquireNextImageKHR(device, swapchain, UINT64_MAX, acquired, VK_NULL_HANDLE, &index) != VK_SUCCESS)
        return fail("vkAcquireNextImageKHR");

    // One clear of the image, between the layout changes it needs.
    VkCommandBufferBeginInfo begin{};
    begin.sType = VK_STRUCTURE_TYPE_COMMAND_BUFFER_BEGIN_INFO;
    begin.flags = VK_COMMAND_BUFFER_USAGE_ONE_TIME_SUBMIT_BIT;
    vkBeginCommandBuffer(cmd, &begin);
    VkImageMemoryBarrier barrier{};
    barrier.sType = VK_STRUCTURE_TYPE_IMAGE_MEMORY_BARRIER;
    barrier.srcQueueFamilyIndex = barrier.dstQueueFamilyIndex = VK_QUEUE_FAMILY_IGNORED;
    barrier.image = images[index];
    barrier.subresourceRange = {VK_IMAGE_ASPECT_COLOR_BIT, 0, 1, 0, 1};
    barrier.oldLayout = VK_IMAGE_LAYOUT_UNDEFINED;
    barrier.newLayout = VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL;
    barrier.dstAccessMask = VK_ACCESS_TRANSFER_WRITE_BIT;
    vkCmdPipelineBarrier(cmd, VK_PIPELINE_STAGE_TOP_OF_PIPE_BIT, VK_PIPELINE_STAGE_TRANSFER_BIT, 0, 0, nullptr, 0,
                         nullptr, 1, &barrier);
    VkClearColorValue colour{{0.95f, 0.95f, 0.95f, 1.0f}};
    vkCmdClearColorImage(cmd, images[index], VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL, &colour, 1, &barrier.subresourceRange);
    barrier.oldLayout = VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL;
    barrier.newLayout = VK_IMAGE_LAYOUT_PRESENT_SRC_KHR;
    barrier.srcAccessMask = VK_ACCESS_TRANSFER_WRITE_BIT;
    barrier.dstAccessMask = 0;
    vkCmdPipelineBarrier(cmd, VK_PIPELINE_STAGE_TRANSFER_BIT, VK_PIPELINE_STAGE_BOTTOM_OF_PIPE_BIT, 0, 0, nullptr, 0,
                         nullptr, 1, &barrier);
    vkEndCommandBuffer(cmd);
    VkPipelineStageFlags wait_stage = VK_PIPELINE_STAGE_TRANSFER_BIT;
    VkSubmitInfo submit{};
    submit.sType = VK_STRUCTURE_TYPE_SUBMIT_INFO;
    submit.waitSemaphoreCount = 1;
    submit.pWaitSemaphores = &acquired;
    submit.pWaitDstStageMask = &wait_stage;
    submit.commandBufferCount = 1;
    submit.pCommandBuffers = &cmd;
    submit.signalSemaphoreCount = 1;
    submit.pSignalSemaphores = &drawn;
    if (vkQueueSubmit(queue, 1, &submit, VK_NULL_HANDLE) != VK_SUCCESS) return fail("vkQueueSubmit");
    VkPresentInfoKHR present{};
    present.sType = VK_STRUCTURE_TYPE_PRESENT_INFO_KHR;
    present.waitSemaphoreCount = 1;
    present.pWaitSemaphores = &drawn;
    present.swapchainCount = 1;
    present.pSwapchains = &swapchain;
    present.pImageIndices = &index;
    if (vkQueuePresentKHR(queue, &present) != VK_SUCCESS) return fail("vkQueuePresentKHR");
    std::printf("presented\n");
    std::fflush(stdout);

    vkDeviceWaitIdle(device);
    vkDestroySemaphore(device, acquired, nullptr);
    vkDestroySemaphore(device, drawn, nullptr);
    vkDestroyCommandPool(device, pool, nullptr);
    vkDestroySwapchainKHR(device, swapchain, nullptr);
    vkDestroyDevice(device, nullptr);
    vkDestroySurfaceKHR(instance, surface, nullptr);
    vkDestroyInstance(instance, nullptr);
    SDL_DestroyWindow(window);
    SDL_Quit();
    return 0;
}
