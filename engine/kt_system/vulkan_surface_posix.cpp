// The window's Vulkan surface on Linux: SDL makes it (X11 or Wayland) and
// names the instance extensions it needs.
#include "engine/kt_system/vulkan_surface.h"

#include <vulkan/vulkan.h>

#include <SDL.h>
#include <SDL_vulkan.h>

#include "engine/kt_system/env.h"
#include "engine/kt_system/window.h"

const char* vulkan_loader_name() { return "libvulkan.so.1"; }

bool vulkan_window_usable(const Window& w) { return w.native != nullptr && w.vulkan_ready; }

std::vector<std::string> vulkan_surface_extensions(Window* w) {
    std::vector<std::string> names;
    unsigned count = 0;
    SDL_Window* s = w ? static_cast<SDL_Window*>(w->native) : nullptr;
    if (s && SDL_Vulkan_GetInstanceExtensions(s, &count, nullptr) && count > 0) {
        std::vector<const char*> list(count);
        if (SDL_Vulkan_GetInstanceExtensions(s, &count, list.data())) {
            for (unsigned i = 0; i < count; ++i) names.emplace_back(list[i]);
            return names;
        }
    }
    names.emplace_back("VK_KHR_surface");
    return names;
}

// SDL draws on X11 through Xlib (XCB where Xlib has none) or on Wayland:
// those of the displays the environment names (a Wayland extension with no
// Wayland display makes the driver complain on standard error).
std::vector<std::string> vulkan_surface_extensions_before_window() {
    std::vector<std::string> names = {"VK_KHR_surface"};
    if (!env_get("DISPLAY").empty()) {
        names.emplace_back("VK_KHR_xlib_surface");
        names.emplace_back("VK_KHR_xcb_surface");
    }
    if (!env_get("WAYLAND_DISPLAY").empty()) names.emplace_back("VK_KHR_wayland_surface");
    return names;
}

int vulkan_make_surface(Window& w, void* instance, void*, uint64_t* surface) {
    VkSurfaceKHR made = VK_NULL_HANDLE;
    if (!SDL_Vulkan_CreateSurface(static_cast<SDL_Window*>(w.native), static_cast<VkInstance>(instance), &made))
        return -3;   // VK_ERROR_INITIALIZATION_FAILED
    *surface = uint64_t(made);
    return 0;
}

bool vulkan_family_presents(void*, void*, void*, uint32_t) { return true; }
