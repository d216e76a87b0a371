// The window's Vulkan surface on Windows: a Win32 surface over the window's
// HWND and HINSTANCE.
#include "engine/kt_system/vulkan_surface.h"

#include <windows.h>
#define VK_USE_PLATFORM_WIN32_KHR
#include <vulkan/vulkan.h>

#include "engine/kt_system/window.h"

const char* vulkan_loader_name() { return "vulkan-1.dll"; }

bool vulkan_window_usable(const Window& w) { return w.native != nullptr && w.module != nullptr; }

std::vector<std::string> vulkan_surface_extensions(Window*) { return {"VK_KHR_surface", "VK_KHR_win32_surface"}; }

std::vector<std::string> vulkan_surface_extensions_before_window() { return vulkan_surface_extensions(nullptr); }

int vulkan_make_surface(Window& w, void* instance, void* get_instance_proc, uint64_t* surface) {
    auto gipa = reinterpret_cast<PFN_vkGetInstanceProcAddr>(get_instance_proc);
    auto create = reinterpret_cast<PFN_vkCreateWin32SurfaceKHR>(
        gipa(static_cast<VkInstance>(instance), "vkCreateWin32SurfaceKHR"));
    if (!create) return VK_ERROR_EXTENSION_NOT_PRESENT;
    VkWin32SurfaceCreateInfoKHR info{};
    info.sType = VK_STRUCTURE_TYPE_WIN32_SURFACE_CREATE_INFO_KHR;
    info.hinstance = static_cast<HINSTANCE>(w.module);
    info.hwnd = static_cast<HWND>(w.native);
    VkSurfaceKHR made = VK_NULL_HANDLE;
    VkResult r = create(static_cast<VkInstance>(instance), &info, nullptr, &made);
    if (r == VK_SUCCESS) *surface = uint64_t(made);
    return int(r);
}

bool vulkan_family_presents(void* instance, void* get_instance_proc, void* physical_device, uint32_t family) {
    auto gipa = reinterpret_cast<PFN_vkGetInstanceProcAddr>(get_instance_proc);
    auto query = reinterpret_cast<PFN_vkGetPhysicalDeviceWin32PresentationSupportKHR>(
        gipa(static_cast<VkInstance>(instance), "vkGetPhysicalDeviceWin32PresentationSupportKHR"));
    return query && query(static_cast<VkPhysicalDevice>(physical_device), family) == VK_TRUE;
}
