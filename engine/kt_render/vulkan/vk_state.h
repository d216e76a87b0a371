// The Vulkan backend's private state and the procedures its files share.
// Only the files of this folder include it.
#pragma once
#include <vulkan/vulkan.h>

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/kt_render/backend.h"
#include "engine/kt_render/draw_list.h"
#include "engine/kt_render/handle.h"
#include "engine/kt_render/vulkan/vulkan_backend.h"
#include "engine/kt_system/thread.h"

// Entry points resolved through the loader.
#define QM_VK_GLOBAL(X)                        \
    X(vkCreateInstance)                        \
    X(vkEnumerateInstanceVersion)              \
    X(vkEnumerateInstanceExtensionProperties)  \
    X(vkEnumerateInstanceLayerProperties)

#define QM_VK_INSTANCE(X)                           \
    X(vkDestroyInstance)                            \
    X(vkEnumeratePhysicalDevices)                   \
    X(vkGetPhysicalDeviceProperties)                \
    X(vkGetPhysicalDeviceFeatures2)                 \
    X(vkGetPhysicalDeviceQueueFamilyProperties)     \
    X(vkGetPhysicalDeviceMemoryProperties)          \
    X(vkGetPhysicalDeviceFormatProperties)          \
    X(vkEnumerateDeviceExtensionProperties)         \
    X(vkCreateDevice)                               \
    X(vkGetDeviceProcAddr)                          \
    X(vkDestroySurfaceKHR)                          \
    X(vkGetPhysicalDeviceSurfaceSupportKHR)         \
    X(vkGetPhysicalDeviceSurfaceCapabilitiesKHR)    \
    X(vkGetPhysicalDeviceSurfaceFormatsKHR)         \
    X(vkGetPhysicalDeviceSurfacePresentModesKHR)    \
    X(vkCreateDebugUtilsMessengerEXT)               \
    X(vkDestroyDebugUtilsMessengerEXT)

#define QM_VK_DEVICE(X)                  \
    X(vkDestroyDevice)                   \
    X(vkGetDeviceQueue)                  \
    X(vkDeviceWaitIdle)                  \
    X(vkQueueWaitIdle)                   \
    X(vkQueueSubmit)                     \
    X(vkCreateSwapchainKHR)              \
    X(vkDestroySwapchainKHR)             \
    X(vkGetSwapchainImagesKHR)           \
    X(vkAcquireNextImageKHR)             \
    X(vkQueuePresentKHR)                 \
    X(vkCreateImage)                     \
    X(vkDestroyImage)                    \
    X(vkCreateImageView)                 \
    X(vkDestroyImageView)                \
    X(vkGetImageMemoryRequirements)      \
    X(vkBindImageMemory)                 \
    X(vkCreateBuffer)                    \
    X(vkDestroyBuffer)                   \
    X(vkGetBufferMemoryRequirements)     \
    X(vkBindBufferMemory)                \
    X(vkAllocateMemory)                  \
    X(vkFreeMemory)                      \
    X(vkMapMemory)                       \
    X(vkCreateSampler)                   \
    X(vkDestroySampler)                  \
    X(vkCreateDescriptorSetLayout)       \
    X(vkDestroyDescriptorSetLayout)      \
    X(vkCreatePipelineLayout)            \
    X(vkDestroyPipelineLayout)           \
    X(vkCreateDescriptorPool)            \
    X(vkDestroyDescriptorPool)           \
    X(vkResetDescriptorPool)             \
    X(vkAllocateDescriptorSets)          \
    X(vkFreeDescriptorSets)              \
    X(vkUpdateDescriptorSets)            \
    X(vkCreateShaderModule)              \
    X(vkDestroyShaderModule)             \
    X(vkCreateGraphicsPipelines)         \
    X(vkDestroyPipeline)                 \
    X(vkCreateCommandPool)               \
    X(vkDestroyCommandPool)              \
    X(vkResetCommandPool)                \
    X(vkAllocateCommandBuffers)          \
    X(vkFreeCommandBuffers)              \
    X(vkBeginCommandBuffer)              \
    X(vkEndCommandBuffer)                \
    X(vkCreateSemaphore)                 \
    X(vkDestroySemaphore)                \
    X(vkCreateFence)                     \
    X(vkDestroyFence)                    \
    X(vkWaitForFences)                   \
    X(vkResetFences)                     \
    X(vkCmdBindPipeline)                 \
    X(vkCmdBindDescriptorSets)           \
    X(vkCmdBindVertexBuffers)            \
    X(vkCmdBindIndexBuffer)              \
    X(vkCmdPushConstants)                \
    X(vkCmdSetViewport)                  \
    X(vkCmdSetScissor)                   \
    X(vkCmdDrawIndexed)                  \
    X(vkCmdCopyBufferToImage)            \
    X(vkCmdCopyImageToBuffer)            \
    X(vkCmdClearColorImage)              \
    X(vkCmdBeginRendering)               \
    X(vkCmdEndRendering)                 \
    X(vkCmdPipelineBarrier2)

#define QM_VK_DECLARE(name) PFN_##name name = nullptr;

struct Vk_Global {
    PFN_vkGetInstanceProcAddr vkGetInstanceProcAddr = nullptr;
    QM_VK_GLOBAL(QM_VK_DECLARE)
};
struct Vk_Instance_Fns {
    QM_VK_INSTANCE(QM_VK_DECLARE)
};
struct Vk_Device_Fns {
    QM_VK_DEVICE(QM_VK_DECLARE)
};

// The process-wide loader entry points (valid once vulkan_load succeeded).
extern Vk_Global vkg;

bool vulkan_load();
void resolve_instance(VkInstance instance, Vk_Instance_Fns& f);

struct Staging {
    VkBuffer buffer = VK_NULL_HANDLE;
    VkDeviceMemory memory = VK_NULL_HANDLE;
    VkDeviceSize size = 0;
    void* mapped = nullptr;
};

struct Texture {
    VkImage image = VK_NULL_HANDLE;
    VkImageView view = VK_NULL_HANDLE;
    VkDeviceMemory memory = VK_NULL_HANDLE;
    VkDescriptorSet set = VK_NULL_HANDLE;
    int width = 0, height = 0;
    Pixel_Format format = Pixel_Format::RGBA8;
    VkFormat vk_format = VK_FORMAT_UNDEFINED;
    Filter filter = Filter::Nearest;
    VkSampler sampler = VK_NULL_HANDLE;
    uint32_t layout = 0;   // 0 until the first upload, then a VkImageLayout
    bool render_target = false;
};

struct Shader {
    VkShaderModule module = VK_NULL_HANDLE;
    int uniform_size = 0;
    int texture_count = 0;
    VkDescriptorSetLayout set_layout = VK_NULL_HANDLE;
    VkPipelineLayout layout = VK_NULL_HANDLE;
};

struct Upload {
    Handle texture = 0;
    Staging staging;   // none: the image is cleared
    int x = 0, y = 0, width = 0, height = 0;
};

struct Deferred_Destroy {
    uint64_t frame = 0;
    VkBuffer buffer = VK_NULL_HANDLE;
    VkImage image = VK_NULL_HANDLE;
    VkImageView view = VK_NULL_HANDLE;
    VkDeviceMemory memory = VK_NULL_HANDLE;
    VkDescriptorSet set = VK_NULL_HANDLE;
};

struct Frame {
    VkCommandPool command_pool = VK_NULL_HANDLE;
    VkCommandBuffer command_buffer = VK_NULL_HANDLE;
    VkSemaphore acquired = VK_NULL_HANDLE;
    VkFence fence = VK_NULL_HANDLE;
    Staging vertices, indices, uniforms;
    VkDescriptorSet uniform_set = VK_NULL_HANDLE;
    VkBuffer uniform_written = VK_NULL_HANDLE;
    VkDescriptorPool texture_pool = VK_NULL_HANDLE;
    Staging capture;   // the window image copied out, when frames are captured
};

struct Pipeline_Key {
    uint32_t format = 0;
    Handle shader = 0;
    Material material = Material::Solid;
    Blend blend = Blend::Alpha;
    bool operator==(const Pipeline_Key&) const = default;
};
struct Pipeline_Key_Hash {
    size_t operator()(const Pipeline_Key& k) const {
        uint64_t v = uint64_t(k.format) * 0x9E3779B97F4A7C15ull ^ (uint64_t(k.shader) << 16) ^
                     (uint64_t(k.material) << 8) ^ uint64_t(k.blend);
        return size_t(v ^ (v >> 29));
    }
};

// A pipeline being made on a thread of its own ahead of its first use.
struct Pipeline_Warm {
    Pipeline_Key key;
    VkPipelineLayout layout = VK_NULL_HANDLE;
    VkShaderModule fragment = VK_NULL_HANDLE;
    VkPipeline pipeline = VK_NULL_HANDLE;   // set by the thread
    Thread thread;
};

inline constexpr int frames_in_flight = 2;
inline constexpr uint32_t texture_slots = 2048;
inline constexpr uint32_t custom_sets_per_frame = 4096;
inline constexpr int shader_max_textures = 16;

struct Vk_State {
    Vk_Instance_Fns fi;
    Vk_Device_Fns fd;
    VkInstance instance = VK_NULL_HANDLE;
    VkDebugUtilsMessengerEXT messenger = VK_NULL_HANDLE;
    VkSurfaceKHR surface = VK_NULL_HANDLE;
    VkPhysicalDevice physical = VK_NULL_HANDLE;
    VkDevice device = VK_NULL_HANDLE;
    VkQueue queue = VK_NULL_HANDLE;
    uint32_t family = 0;
    uint32_t api_version = 0;
    std::string device_name;
    VkPhysicalDeviceMemoryProperties memory{};
    int window_width = 0, window_height = 0;

    VkDescriptorSetLayout texture_set_layout = VK_NULL_HANDLE;
    VkPipelineLayout pipeline_layout = VK_NULL_HANDLE;
    VkDescriptorPool texture_pool = VK_NULL_HANDLE;
    uint32_t texture_sets = 0;   // allocated from texture_pool (some wait in deferred)
    VkSampler samplers[4] = {};   // by filter * 2 + wrap
    VkDescriptorSetLayout uniform_set_layout = VK_NULL_HANDLE;
    VkDescriptorPool uniform_pool = VK_NULL_HANDLE;
    int uniform_limit = 0;
    bool scalar_block_layout = false;

    Handle_Pool<Shader> shaders;
    Handle_Pool<Texture> textures;

    VkShaderModule vertex_module = VK_NULL_HANDLE;
    VkShaderModule fragment_modules[4] = {};   // by Material; Solid and Textured share one
    std::unordered_map<Pipeline_Key, VkPipeline, Pipeline_Key_Hash> pipelines;
    std::vector<std::unique_ptr<Pipeline_Warm>> warming;   // joined before any pipeline is looked up or destroyed

    Frame frames[frames_in_flight];
    VkCommandPool transient_pool = VK_NULL_HANDLE;
    int frame_index = 0;
    uint64_t frame_number = 0;

    // The swapchain, or in an offscreen backend one image of its own.
    bool offscreen = false;
    VkSwapchainKHR swapchain = VK_NULL_HANDLE;
    VkFormat format = VK_FORMAT_UNDEFINED;
    VkColorSpaceKHR colour_space = VK_COLOR_SPACE_SRGB_NONLINEAR_KHR;
    VkExtent2D extent{};
    VkPresentModeKHR present_mode = VK_PRESENT_MODE_FIFO_KHR;
    bool stale = false;
    bool images_readable = false;   // the images can be copied out
    std::vector<VkImage> images;
    std::vector<VkImageView> image_views;
    std::vector<VkSemaphore> image_semaphores;
    std::vector<uint32_t> image_layouts;
    VkDeviceMemory offscreen_memory = VK_NULL_HANDLE;
    int swapchain_rebuilds = 0;   // swapchains made after the first

    std::vector<Deferred_Destroy> deferred;
    std::vector<Upload> uploads;

    Handle white = 0;
    bool device_lost = false;
    // How long a frame slot's fence is waited for before the device counts
    // as lost (far beyond any frame; tests shorten it).
    uint64_t fence_timeout_ns = 10'000'000'000ull;
    int last_result = 0;   // of the last render: 0 presented, 1 skipped, 2 device lost

    // Frame capture: the window image copied into the frame's capture buffer.
    bool capture = false;
    int captured_frame = -1;   // the frame slot holding the last copy, or -1
    int captured_width = 0, captured_height = 0;
    VkFormat captured_format = VK_FORMAT_UNDEFINED;
};

inline Vk_State& state_of(Backend& b) { return *static_cast<Vk_State*>(b.state); }

// Records a lost device; returns the result unchanged.
VkResult note_result(Vk_State& s, VkResult r);
const char* result_name(VkResult r);
const char* format_name(VkFormat f);

// Device and fixed objects.
void destroy_state(Vk_State* s);
std::string describe_backend(const Vk_State& s, const std::string& device_name, uint32_t api_version);

// Swapchain: 0 usable, 1 no area, 2 failure.
int create_swapchain(Vk_State& s);
// The offscreen backend's own image of the window size.
bool create_offscreen_image(Vk_State& s);
void destroy_swapchain_objects(Vk_State& s);

// Textures and memory.
Handle make_texture(Vk_State& s, const Texture_Desc& desc);
bool make_buffer(Vk_State& s, VkDeviceSize size, VkBufferUsageFlags usage, Staging& out);
void destroy_staging(Vk_State& s, Staging& b);
void destroy_texture_objects(Vk_State& s, Texture& t);
void record_uploads(Vk_State& s, VkCommandBuffer cmd);
void run_deferred(Vk_State& s, uint64_t up_to, bool all);
VkCommandBuffer begin_once(Vk_State& s);
bool end_once(Vk_State& s, VkCommandBuffer cmd);
VkFormat vk_format_of(Pixel_Format f);
void image_barrier(Vk_State& s, VkCommandBuffer cmd, VkImage image, VkImageLayout from, VkImageLayout to,
                   VkPipelineStageFlags2 src_stage, VkAccessFlags2 src_access, VkPipelineStageFlags2 dst_stage,
                   VkAccessFlags2 dst_access);

// Shaders and pipelines.
bool make_shader(Vk_State& s, const uint32_t* words, size_t count, VkShaderModule& out);
void destroy_shader_objects(Vk_State& s, Shader& sh);
VkPipeline get_pipeline(Vk_State& s, Pipeline_Key key);
// Waits for the pipelines being made ahead of use and adds them to the cache.
void finish_warming(Vk_State& s);

// The Backend slots.
void backend_resize(Backend& b, int width, int height);
Handle backend_create_texture(Backend& b, const Texture_Desc& desc);
bool backend_update_texture(Backend& b, Handle texture, Rect rect, std::span<const uint8_t> pixels);
void backend_destroy_texture(Backend& b, Handle texture);
Handle backend_create_shader(Backend& b, const Shader_Desc& desc);
void backend_destroy_shader(Backend& b, Handle shader);
void backend_render_slot(Backend& b, const Draw_List& list);
Texture_Pixels backend_read_texture(Backend& b, Handle texture);
void backend_destroy(Backend& b);
