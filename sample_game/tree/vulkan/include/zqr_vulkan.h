/* Placeholder for the Vulkan headers the game builds against. */
#ifndef ZQR_VULKAN_H
#define ZQR_VULKAN_H
#define ZQR_HAVE_VULKAN 0
#endif
