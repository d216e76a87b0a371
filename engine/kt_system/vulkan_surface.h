// What the renderer's Vulkan backend needs of the window system: the name
// of the Vulkan loader, the instance extensions a window surface needs, the
// surface of a window, and whether a queue family can present without one.
// The Vulkan objects pass through as plain values so that this header
// needs no Vulkan header.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct Window;

// "vulkan-1.dll" on Windows, "libvulkan.so.1" elsewhere.
const char* vulkan_loader_name();

// Whether the window record carries a native window a surface can be made on.
bool vulkan_window_usable(const Window& w);

// The instance extensions a surface of `w` needs ("VK_KHR_surface" and the
// system's own); with no window, those of the system's usual kind of window.
std::vector<std::string> vulkan_surface_extensions(Window* w);

// Before any window exists: every surface extension a window of this system
// may need ("VK_KHR_surface" first); the instance takes those the loader
// offers.
std::vector<std::string> vulkan_surface_extensions_before_window();

// Makes a VkSurfaceKHR of the window on a VkInstance; `get_instance_proc`
// is the loader's vkGetInstanceProcAddr. Returns the Vulkan result code
// (0 on success) and the surface through `surface`.
int vulkan_make_surface(Window& w, void* instance, void* get_instance_proc, uint64_t* surface);

// Whether a queue family of the VkPhysicalDevice can present to the
// system's windows, asked without a surface. Where the window system gives
// no such query without a window (Linux), true: the surface decides later.
bool vulkan_family_presents(void* instance, void* get_instance_proc, void* physical_device, uint32_t family);
