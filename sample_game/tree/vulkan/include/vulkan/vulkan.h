/* The few Vulkan definitions the stand-in game is built against. */
#ifndef ZQR_VULKAN_API_H
#define ZQR_VULKAN_API_H

#include <stdint.h>

#define VK_MAKE_API_VERSION(variant, major, minor, patch) \
    ((((uint32_t)(variant)) << 29) | (((uint32_t)(major)) << 22) | (((uint32_t)(minor)) << 12) | ((uint32_t)(patch)))
#define VK_API_VERSION_MAJOR(version) (((uint32_t)(version) >> 22) & 0x7fu)
#define VK_API_VERSION_MINOR(version) (((uint32_t)(version) >> 12) & 0x3ffu)
#define VK_HEADER_API_VERSION VK_MAKE_API_VERSION(0, 1, 3, 0)

typedef uint32_t VkFlags;
typedef uint32_t VkBool32;
typedef struct VkInstance_T *VkInstance;

#endif
