// The Vulkan loader, the instance, the choice of a device, the logical
// device, the fixed objects (samplers, layouts, pools, built-in shaders),
// the frames in flight, and tearing it all down.
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "engine/kt_render/vulkan/vk_state.h"
#include "engine/kt_system/dynlib.h"
#include "engine/kt_system/log.h"
#include "engine/kt_system/vulkan_surface.h"
#include "engine/kt_system/window.h"

Vk_Global vkg;

namespace {

enum class Load_State { Untried, Loaded, Failed };
Load_State load_state = Load_State::Untried;
std::atomic<int> validation_errors{0};

bool validation_wanted() {
    const char* v = std::getenv("QM_VULKAN_VALIDATION");
    return v && *v;
}

VKAPI_ATTR VkBool32 VKAPI_CALL on_validation(VkDebugUtilsMessageSeverityFlagBitsEXT severity,
                                             VkDebugUtilsMessageTypeFlagsEXT type,
                                             const VkDebugUtilsMessengerCallbackDataEXT* data, void*) {
    // The loader's own complaints (a missing driver file) are general
    // messages, not misuse of the API.
    if ((severity & VK_DEBUG_UTILS_MESSAGE_SEVERITY_ERROR_BIT_EXT) &&
        (type & VK_DEBUG_UTILS_MESSAGE_TYPE_VALIDATION_BIT_EXT)) {
        validation_errors.fetch_add(1);
        log_printf(Log_Level::Error, "ren_vulkan: validation: %s", data && data->pMessage ? data->pMessage : "?");
    }
    return VK_FALSE;
}

bool instance_has_layer(const char* name) {
    uint32_t n = 0;
    if (!vkg.vkEnumerateInstanceLayerProperties || vkg.vkEnumerateInstanceLayerProperties(&n, nullptr) != VK_SUCCESS)
        return false;
    std::vector<VkLayerProperties> layers(n);
    if (vkg.vkEnumerateInstanceLayerProperties(&n, layers.data()) != VK_SUCCESS) return false;
    for (uint32_t i = 0; i < n; ++i) {
        if (std::strcmp(layers[i].layerName, name) == 0) return true;
    }
    return false;
}

const char validation_layer[] = "VK_LAYER_KHRONOS_validation";

struct Instance_Result {
    VkInstance instance = VK_NULL_HANDLE;
    std::string reason;
};

// The instance with the given surface extensions (validation's added).
Instance_Result create_instance_with(std::vector<std::string> names, Vk_Instance_Fns& fi,
                                     VkDebugUtilsMessengerEXT* messenger) {
    Instance_Result r;
    uint32_t version = 0;
    if (!vkg.vkEnumerateInstanceVersion || vkg.vkEnumerateInstanceVersion(&version) != VK_SUCCESS) version = 0;
    r.reason = loader_version_problem(version);
    if (!r.reason.empty()) return r;

    VkApplicationInfo app{};
    app.sType = VK_STRUCTURE_TYPE_APPLICATION_INFO;
    app.pApplicationName = "kt_system";
    app.applicationVersion = 1;
    app.pEngineName = "kt_system";
    app.engineVersion = 1;
    app.apiVersion = VK_API_VERSION_1_3;

    bool validate = validation_wanted() && instance_has_layer(validation_layer);
    if (validate) names.emplace_back("VK_EXT_debug_utils");
    std::vector<const char*> extensions;
    for (const std::string& n : names) extensions.push_back(n.c_str());
    const char* layers[] = {validation_layer};

    VkDebugUtilsMessengerCreateInfoEXT debug{};
    debug.sType = VK_STRUCTURE_TYPE_DEBUG_UTILS_MESSENGER_CREATE_INFO_EXT;
    debug.messageSeverity = VK_DEBUG_UTILS_MESSAGE_SEVERITY_ERROR_BIT_EXT | VK_DEBUG_UTILS_MESSAGE_SEVERITY_WARNING_BIT_EXT;
    debug.messageType = VK_DEBUG_UTILS_MESSAGE_TYPE_GENERAL_BIT_EXT | VK_DEBUG_UTILS_MESSAGE_TYPE_VALIDATION_BIT_EXT |
                        VK_DEBUG_UTILS_MESSAGE_TYPE_PERFORMANCE_BIT_EXT;
    debug.pfnUserCallback = on_validation;

    VkInstanceCreateInfo info{};
    info.sType = VK_STRUCTURE_TYPE_INSTANCE_CREATE_INFO;
    info.pApplicationInfo = &app;
    info.enabledExtensionCount = uint32_t(extensions.size());
    info.ppEnabledExtensionNames = extensions.data();
    if (validate) {
        info.enabledLayerCount = 1;
        info.ppEnabledLayerNames = layers;
        info.pNext = &debug;
    }
    VkResult res = vkg.vkCreateInstance(&info, nullptr, &r.instance);
    if (res != VK_SUCCESS) {
        r.instance = VK_NULL_HANDLE;
        r.reason = std::string("vkCreateInstance failed: ") + result_name(res);
        return r;
    }
    resolve_instance(r.instance, fi);
    if (validate && messenger && fi.vkCreateDebugUtilsMessengerEXT)
        fi.vkCreateDebugUtilsMessengerEXT(r.instance, &debug, nullptr, messenger);
    return r;
}

Instance_Result create_instance(Window* window, Vk_Instance_Fns& fi, VkDebugUtilsMessengerEXT* messenger) {
    return create_instance_with(vulkan_surface_extensions(window), fi, messenger);
}

bool physical_has_extension(Vk_Instance_Fns& fi, VkPhysicalDevice pd, const char* name) {
    uint32_t n = 0;
    if (fi.vkEnumerateDeviceExtensionProperties(pd, nullptr, &n, nullptr) != VK_SUCCESS) return false;
    std::vector<VkExtensionProperties> list(n);
    if (fi.vkEnumerateDeviceExtensionProperties(pd, nullptr, &n, list.data()) != VK_SUCCESS) return false;
    for (const VkExtensionProperties& e : list) {
        if (std::strcmp(e.extensionName, name) == 0) return true;
    }
    return false;
}

struct Found_Device {
    bool found = false;
    VkPhysicalDevice physical = VK_NULL_HANDLE;
    uint32_t family = 0;
    std::string name;
    uint32_t api_version = 0;
    bool discrete = false;
    std::string reason;
};

Found_Device find_device(VkInstance instance, Vk_Instance_Fns& fi, VkSurfaceKHR surface) {
    Found_Device out;
    uint32_t n = 0;
    fi.vkEnumeratePhysicalDevices(instance, &n, nullptr);
    std::vector<VkPhysicalDevice> list(n);
    if (n) fi.vkEnumeratePhysicalDevices(instance, &n, list.data());
    list.resize(n);
    std::vector<Device_Facts> facts(n);
    for (uint32_t i = 0; i < n; ++i) {
        VkPhysicalDevice pd = list[i];
        Device_Facts& f = facts[i];
        VkPhysicalDeviceProperties props{};
        fi.vkGetPhysicalDeviceProperties(pd, &props);
        f.name = props.deviceName;
        f.api_version = props.apiVersion;
        f.discrete = props.deviceType == VK_PHYSICAL_DEVICE_TYPE_DISCRETE_GPU;
        if (props.apiVersion < VK_API_VERSION_1_2) continue;
        if (props.apiVersion < VK_API_VERSION_1_3) {
            f.has_dynamic_rendering = physical_has_extension(fi, pd, "VK_KHR_dynamic_rendering");
            f.has_synchronization2 = physical_has_extension(fi, pd, "VK_KHR_synchronization2");
            VkPhysicalDeviceDynamicRenderingFeatures dr{};
            dr.sType = VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_DYNAMIC_RENDERING_FEATURES;
            VkPhysicalDeviceSynchronization2Features s2{};
            s2.sType = VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_SYNCHRONIZATION_2_FEATURES;
            s2.pNext = &dr;
            VkPhysicalDeviceFeatures2 f2{};
            f2.sType = VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_FEATURES_2;
            f2.pNext = &s2;
            if (f.has_dynamic_rendering && f.has_synchronization2) fi.vkGetPhysicalDeviceFeatures2(pd, &f2);
            f.dynamic_rendering_on = dr.dynamicRendering;
            f.synchronization2_on = s2.synchronization2;
        } else {
            f.has_dynamic_rendering = f.has_synchronization2 = true;
            VkPhysicalDeviceVulkan13Features v13{};
            v13.sType = VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_VULKAN_1_3_FEATURES;
            VkPhysicalDeviceFeatures2 f2{};
            f2.sType = VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_FEATURES_2;
            f2.pNext = &v13;
            fi.vkGetPhysicalDeviceFeatures2(pd, &f2);
            f.dynamic_rendering_on = v13.dynamicRendering;
            f.synchronization2_on = v13.synchronization2;
        }
        f.has_swapchain = physical_has_extension(fi, pd, "VK_KHR_swapchain");
        uint32_t qn = 0;
        fi.vkGetPhysicalDeviceQueueFamilyProperties(pd, &qn, nullptr);
        std::vector<VkQueueFamilyProperties> qs(qn);
        fi.vkGetPhysicalDeviceQueueFamilyProperties(pd, &qn, qs.data());
        for (uint32_t q = 0; q < qn; ++q) {
            if (!(qs[q].queueFlags & VK_QUEUE_GRAPHICS_BIT)) continue;
            bool presents;
            if (surface) {
                VkBool32 ok = VK_FALSE;
                presents = fi.vkGetPhysicalDeviceSurfaceSupportKHR(pd, q, surface, &ok) == VK_SUCCESS && ok;
            } else {
                presents = vulkan_family_presents(instance, reinterpret_cast<void*>(vkg.vkGetInstanceProcAddr), pd, q);
            }
            if (presents) {
                f.family = int(q);
                break;
            }
        }
    }
    Device_Choice c = choose_device(facts);
    out.found = c.found;
    out.reason = c.reason;
    if (c.found) {
        out.physical = list[size_t(c.index)];
        out.family = uint32_t(facts[size_t(c.index)].family);
        out.name = facts[size_t(c.index)].name;
        out.api_version = facts[size_t(c.index)].api_version;
        out.discrete = facts[size_t(c.index)].discrete;
    }
    return out;
}

std::string version_text(uint32_t v) {
    return std::to_string((v >> 22) & 0x7F) + "." + std::to_string((v >> 12) & 0x3FF);
}

bool create_frames(Vk_State& s) {
    auto& f = s.fd;
    VkCommandPoolCreateInfo pool{};
    pool.sType = VK_STRUCTURE_TYPE_COMMAND_POOL_CREATE_INFO;
    pool.flags = VK_COMMAND_POOL_CREATE_TRANSIENT_BIT;
    pool.queueFamilyIndex = s.family;
    if (f.vkCreateCommandPool(s.device, &pool, nullptr, &s.transient_pool) != VK_SUCCESS) return false;
    for (Frame& fr : s.frames) {
        pool.flags = 0;
        if (f.vkCreateCommandPool(s.device, &pool, nullptr, &fr.command_pool) != VK_SUCCESS) return false;
        VkCommandBufferAllocateInfo alloc{};
        alloc.sType = VK_STRUCTURE_TYPE_COMMAND_BUFFER_ALLOCATE_INFO;
        alloc.commandPool = fr.command_pool;
        alloc.level = VK_COMMAND_BUFFER_LEVEL_PRIMARY;
        alloc.commandBufferCount = 1;
        if (f.vkAllocateCommandBuffers(s.device, &alloc, &fr.command_buffer) != VK_SUCCESS) return false;
        VkSemaphoreCreateInfo sem{};
        sem.sType = VK_STRUCTURE_TYPE_SEMAPHORE_CREATE_INFO;
        if (f.vkCreateSemaphore(s.device, &sem, nullptr, &fr.acquired) != VK_SUCCESS) return false;
        VkFenceCreateInfo fence{};
        fence.sType = VK_STRUCTURE_TYPE_FENCE_CREATE_INFO;
        fence.flags = VK_FENCE_CREATE_SIGNALED_BIT;
        if (f.vkCreateFence(s.device, &fence, nullptr, &fr.fence) != VK_SUCCESS) return false;
    }
    return true;
}

bool create_fixed_objects(Vk_State& s) {
    auto& f = s.fd;
    for (int filter = 0; filter < 2; ++filter) {
        for (int wrap = 0; wrap < 2; ++wrap) {
            VkSamplerCreateInfo info{};
            info.sType = VK_STRUCTURE_TYPE_SAMPLER_CREATE_INFO;
            info.magFilter = info.minFilter = filter ? VK_FILTER_LINEAR : VK_FILTER_NEAREST;
            info.mipmapMode = VK_SAMPLER_MIPMAP_MODE_NEAREST;
            info.addressModeU = info.addressModeV = info.addressModeW =
                wrap ? VK_SAMPLER_ADDRESS_MODE_REPEAT : VK_SAMPLER_ADDRESS_MODE_CLAMP_TO_EDGE;
            info.maxLod = 0.25f;
            if (f.vkCreateSampler(s.device, &info, nullptr, &s.samplers[filter * 2 + wrap]) != VK_SUCCESS) return false;
        }
    }
    VkDescriptorSetLayoutBinding binding{};
    binding.binding = 0;
    binding.descriptorType = VK_DESCRIPTOR_TYPE_COMBINED_IMAGE_SAMPLER;
    binding.descriptorCount = 1;
    binding.stageFlags = VK_SHADER_STAGE_FRAGMENT_BIT;
    VkDescriptorSetLayoutCreateInfo set_info{};
    set_info.sType = VK_STRUCTURE_TYPE_DESCRIPTOR_SET_LAYOUT_CREATE_INFO;
    set_info.bindingCount = 1;
    set_info.pBindings = &binding;
    if (f.vkCreateDescriptorSetLayout(s.device, &set_info, nullptr, &s.texture_set_layout) != VK_SUCCESS) return false;

    VkPushConstantRange push{VK_SHADER_STAGE_VERTEX_BIT, 0, 16};
    VkPipelineLayoutCreateInfo layout{};
    layout.sType = VK_STRUCTURE_TYPE_PIPELINE_LAYOUT_CREATE_INFO;
    layout.setLayoutCount = 1;
    layout.pSetLayouts = &s.texture_set_layout;
    layout.pushConstantRangeCount = 1;
    layout.pPushConstantRanges = &push;
    if (f.vkCreatePipelineLayout(s.device, &layout, nullptr, &s.pipeline_layout) != VK_SUCCESS) return false;

    VkDescriptorPoolSize size{VK_DESCRIPTOR_TYPE_COMBINED_IMAGE_SAMPLER, texture_slots};
    VkDescriptorPoolCreateInfo pool{};
    pool.sType = VK_STRUCTURE_TYPE_DESCRIPTOR_POOL_CREATE_INFO;
    pool.flags = VK_DESCRIPTOR_POOL_CREATE_FREE_DESCRIPTOR_SET_BIT;
    pool.maxSets = texture_slots;
    pool.poolSizeCount = 1;
    pool.pPoolSizes = &size;
    if (f.vkCreateDescriptorPool(s.device, &pool, nullptr, &s.texture_pool) != VK_SUCCESS) return false;

    binding.descriptorType = VK_DESCRIPTOR_TYPE_UNIFORM_BUFFER_DYNAMIC;
    if (f.vkCreateDescriptorSetLayout(s.device, &set_info, nullptr, &s.uniform_set_layout) != VK_SUCCESS) return false;
    VkDescriptorPoolSize usize{VK_DESCRIPTOR_TYPE_UNIFORM_BUFFER_DYNAMIC, frames_in_flight};
    pool.flags = 0;
    pool.maxSets = frames_in_flight;
    pool.pPoolSizes = &usize;
    if (f.vkCreateDescriptorPool(s.device, &pool, nullptr, &s.uniform_pool) != VK_SUCCESS) return false;

    VkPhysicalDeviceProperties props{};
    s.fi.vkGetPhysicalDeviceProperties(s.physical, &props);
    s.uniform_limit = int(props.limits.maxUniformBufferRange < 65536 ? props.limits.maxUniformBufferRange : 65536);

    for (Frame& fr : s.frames) {
        VkDescriptorSetAllocateInfo alloc{};
        alloc.sType = VK_STRUCTURE_TYPE_DESCRIPTOR_SET_ALLOCATE_INFO;
        alloc.descriptorPool = s.uniform_pool;
        alloc.descriptorSetCount = 1;
        alloc.pSetLayouts = &s.uniform_set_layout;
        if (f.vkAllocateDescriptorSets(s.device, &alloc, &fr.uniform_set) != VK_SUCCESS) return false;
        VkDescriptorPoolSize fsize{VK_DESCRIPTOR_TYPE_COMBINED_IMAGE_SAMPLER, custom_sets_per_frame};
        VkDescriptorPoolCreateInfo fpool{};
        fpool.sType = VK_STRUCTURE_TYPE_DESCRIPTOR_POOL_CREATE_INFO;
        fpool.maxSets = custom_sets_per_frame;
        fpool.poolSizeCount = 1;
        fpool.pPoolSizes = &fsize;
        if (f.vkCreateDescriptorPool(s.device, &fpool, nullptr, &fr.texture_pool) != VK_SUCCESS) return false;
        // A uniform buffer from the start, so that the set is written before
        // any command binds it (a custom shader without uniforms, in a frame
        // without uniform bytes, still binds it).
        if (!make_buffer(s, VkDeviceSize(4) * VkDeviceSize(s.uniform_limit), VK_BUFFER_USAGE_UNIFORM_BUFFER_BIT,
                         fr.uniforms))
            return false;
        VkDescriptorBufferInfo buf{fr.uniforms.buffer, 0, VkDeviceSize(s.uniform_limit)};
        VkWriteDescriptorSet w{};
        w.sType = VK_STRUCTURE_TYPE_WRITE_DESCRIPTOR_SET;
        w.dstSet = fr.uniform_set;
        w.descriptorCount = 1;
        w.descriptorType = VK_DESCRIPTOR_TYPE_UNIFORM_BUFFER_DYNAMIC;
        w.pBufferInfo = &buf;
        f.vkUpdateDescriptorSets(s.device, 1, &w, 0, nullptr);
        fr.uniform_written = fr.uniforms.buffer;
    }

    auto vertex = builtin_vertex_code();
    if (!make_shader(s, vertex.data(), vertex.size(), s.vertex_module)) return false;
    for (Material m : {Material::Textured, Material::Coverage, Material::Sdf}) {
        auto code = builtin_fragment_code(m);
        if (!make_shader(s, code.data(), code.size(), s.fragment_modules[int(m)])) return false;
    }
    s.fragment_modules[int(Material::Solid)] = s.fragment_modules[int(Material::Textured)];
    return true;
}

// The device on the chosen physical device, its frames and fixed objects
// and the white texture. On failure the state is destroyed.
Create_Error make_device(Vk_State* s, const Found_Device& dev) {
    s->physical = dev.physical;
    s->family = dev.family;
    s->api_version = dev.api_version;
    s->fi.vkGetPhysicalDeviceMemoryProperties(s->physical, &s->memory);

    VkPhysicalDeviceVulkan12Features v12{};
    v12.sType = VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_VULKAN_1_2_FEATURES;
    VkPhysicalDeviceFeatures2 f2{};
    f2.sType = VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_FEATURES_2;
    f2.pNext = &v12;
    s->fi.vkGetPhysicalDeviceFeatures2(s->physical, &f2);
    s->scalar_block_layout = v12.scalarBlockLayout;

    bool below_13 = s->api_version < VK_API_VERSION_1_3;
    std::vector<const char*> exts;
    if (!s->offscreen || physical_has_extension(s->fi, s->physical, "VK_KHR_swapchain")) exts.push_back("VK_KHR_swapchain");
    if (below_13) {
        exts.push_back("VK_KHR_dynamic_rendering");
        exts.push_back("VK_KHR_synchronization2");
    }
    if (physical_has_extension(s->fi, s->physical, "VK_KHR_portability_subset")) exts.push_back("VK_KHR_portability_subset");

    VkPhysicalDeviceVulkan12Features want12{};
    want12.sType = VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_VULKAN_1_2_FEATURES;
    want12.scalarBlockLayout = v12.scalarBlockLayout;
    VkPhysicalDeviceVulkan13Features want13{};
    want13.sType = VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_VULKAN_1_3_FEATURES;
    want13.dynamicRendering = VK_TRUE;
    want13.synchronization2 = VK_TRUE;
    VkPhysicalDeviceDynamicRenderingFeatures dr{};
    dr.sType = VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_DYNAMIC_RENDERING_FEATURES;
    dr.dynamicRendering = VK_TRUE;
    VkPhysicalDeviceSynchronization2Features s2{};
    s2.sType = VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_SYNCHRONIZATION_2_FEATURES;
    s2.synchronization2 = VK_TRUE;
    if (below_13) {
        want12.pNext = &dr;
        dr.pNext = &s2;
    } else {
        want12.pNext = &want13;
    }
    float priority = 1.0f;
    VkDeviceQueueCreateInfo queue{};
    queue.sType = VK_STRUCTURE_TYPE_DEVICE_QUEUE_CREATE_INFO;
    queue.queueFamilyIndex = s->family;
    queue.queueCount = 1;
    queue.pQueuePriorities = &priority;
    VkDeviceCreateInfo info{};
    info.sType = VK_STRUCTURE_TYPE_DEVICE_CREATE_INFO;
    info.pNext = &want12;
    info.queueCreateInfoCount = 1;
    info.pQueueCreateInfos = &queue;
    info.enabledExtensionCount = uint32_t(exts.size());
    info.ppEnabledExtensionNames = exts.data();
    VkResult r = s->fi.vkCreateDevice(s->physical, &info, nullptr, &s->device);
    if (r != VK_SUCCESS) {
        s->device = VK_NULL_HANDLE;
        log_printf(Log_Level::Error, "ren_vulkan: creating the device failed: %s", result_name(r));
        destroy_state(s);
        return Create_Error::Object_Failed;
    }
    auto gdpa = s->fi.vkGetDeviceProcAddr;
#define QM_VK_RESOLVE_DEVICE(name) s->fd.name = reinterpret_cast<PFN_##name>(gdpa(s->device, #name));
    QM_VK_DEVICE(QM_VK_RESOLVE_DEVICE)
#undef QM_VK_RESOLVE_DEVICE
    if (below_13) {
        s->fd.vkCmdBeginRendering = reinterpret_cast<PFN_vkCmdBeginRendering>(gdpa(s->device, "vkCmdBeginRenderingKHR"));
        s->fd.vkCmdEndRendering = reinterpret_cast<PFN_vkCmdEndRendering>(gdpa(s->device, "vkCmdEndRenderingKHR"));
        s->fd.vkCmdPipelineBarrier2 =
            reinterpret_cast<PFN_vkCmdPipelineBarrier2>(gdpa(s->device, "vkCmdPipelineBarrier2KHR"));
    }
    if (!s->fd.vkCmdBeginRendering || !s->fd.vkCmdEndRendering || !s->fd.vkCmdPipelineBarrier2) {
        log_printf(Log_Level::Error, "ren_vulkan: the device lacks the dynamic rendering / synchronization2 entry points");
        destroy_state(s);
        return Create_Error::Object_Failed;
    }
    s->fd.vkGetDeviceQueue(s->device, s->family, 0, &s->queue);
    if (!create_frames(*s) || !create_fixed_objects(*s)) {
        log_printf(Log_Level::Error, "ren_vulkan: creating the frames and pipelines failed");
        destroy_state(s);
        return Create_Error::Object_Failed;
    }
    static const uint8_t white_pixel[4] = {255, 255, 255, 255};
    Texture_Desc white;
    white.width = white.height = 1;
    white.pixels = white_pixel;
    s->white = make_texture(*s, white);
    if (s->white == 0) {
        destroy_state(s);
        return Create_Error::Object_Failed;
    }
    s->device_name = dev.name;
    return Create_Error::None;
}

// The window's swapchain (or the offscreen image) on a made device, and the
// Backend record. On failure the state is destroyed.
Create_Error finish_backend(Vk_State* s, Backend& out) {
    bool chain_ok = s->offscreen ? create_offscreen_image(*s) : create_swapchain(*s) != 2;
    if (!chain_ok) {
        destroy_state(s);
        return Create_Error::Object_Failed;
    }
    out = Backend{};
    out.kind = uint64_t(Backend_Kind::Vulkan);
    out.description = describe_backend(*s, s->device_name, s->api_version);
    out.state = s;
    out.resize = backend_resize;
    out.create_texture = backend_create_texture;
    out.update_texture = backend_update_texture;
    out.destroy_texture = backend_destroy_texture;
    out.create_shader = backend_create_shader;
    out.destroy_shader = backend_destroy_shader;
    out.render = backend_render_slot;
    out.read_texture = backend_read_texture;
    out.destroy = backend_destroy;
    return Create_Error::None;
}

// Steps shared by the window and the offscreen backend, after the instance
// and (for a window) the surface exist.
Create_Error finish_create(Vk_State* s, Backend& out) {
    Found_Device dev = find_device(s->instance, s->fi, s->surface);
    if (!dev.found) {
        log_printf(Log_Level::Error, "ren_vulkan: %s", dev.reason.c_str());
        destroy_state(s);
        return Create_Error::Unavailable;
    }
    Create_Error e = make_device(s, dev);
    return e == Create_Error::None ? finish_backend(s, out) : e;
}

std::string probe_text(const Found_Device& dev) { return "Vulkan " + version_text(dev.api_version) + " on " + dev.name; }

// The surface extensions offered by the loader among those the system's
// windows may need.
std::vector<std::string> offered_surface_extensions() {
    std::vector<std::string> out;
    uint32_t n = 0;
    if (!vkg.vkEnumerateInstanceExtensionProperties ||
        vkg.vkEnumerateInstanceExtensionProperties(nullptr, &n, nullptr) != VK_SUCCESS)
        return out;
    std::vector<VkExtensionProperties> offered(n);
    if (vkg.vkEnumerateInstanceExtensionProperties(nullptr, &n, offered.data()) != VK_SUCCESS) return out;
    offered.resize(n);
    for (const std::string& name : vulkan_surface_extensions_before_window()) {
        for (const VkExtensionProperties& e : offered) {
            if (name == e.extensionName) {
                out.push_back(name);
                break;
            }
        }
    }
    return out;
}

}  // namespace

struct Vulkan_Prepared {
    Vk_State* state = nullptr;
    std::vector<std::string> extensions;   // the instance's surface extensions
};

Vulkan_Prepared* vulkan_prepare(Probe_Result& probe) {
    probe = Probe_Result{};
    if (!vulkan_load()) {
        probe = vulkan_probe();
        return nullptr;
    }
    std::vector<std::string> names = offered_surface_extensions();
    if (names.empty()) {
        // Not even VK_KHR_surface: the probe says why.
        probe = vulkan_probe();
        return nullptr;
    }
    Vk_State* s = new Vk_State;
    pool_init(s->textures);
    pool_init(s->shaders);
    Instance_Result inst = create_instance_with(names, s->fi, &s->messenger);
    if (!inst.instance) {
        probe.text = inst.reason;
        destroy_state(s);
        return nullptr;
    }
    s->instance = inst.instance;
    // The device is chosen as the probe chooses it: without a surface.
    Found_Device dev = find_device(s->instance, s->fi, VK_NULL_HANDLE);
    if (!dev.found) {
        probe.text = dev.reason;
        destroy_state(s);
        return nullptr;
    }
    probe.available = true;
    probe.text = probe_text(dev);
    probe.device = dev.name;
    if (make_device(s, dev) != Create_Error::None) return nullptr;
    auto* p = new Vulkan_Prepared;
    p->state = s;
    p->extensions = std::move(names);
    return p;
}

void vulkan_discard_prepared(Vulkan_Prepared* p) {
    if (!p) return;
    destroy_state(p->state);
    delete p;
}

Create_Error vulkan_create_prepared(Vulkan_Prepared* p, Window* window, Backend& out) {
    if (!p) return vulkan_create(window, out);
    if (!window || !vulkan_window_usable(*window)) {
        vulkan_discard_prepared(p);
        return Create_Error::Not_A_Native_Window;
    }
    // The window's surface must be one the instance can make, on a queue
    // family of the device that presents to it; else the device is made
    // anew for the window, as without preparation.
    bool fits = true;
    for (const std::string& name : vulkan_surface_extensions(window)) {
        bool has = false;
        for (const std::string& e : p->extensions) has = has || e == name;
        fits = fits && has;
    }
    Vk_State* s = p->state;
    uint64_t surface = 0;
    if (fits) {
        fits = vulkan_make_surface(*window, s->instance, reinterpret_cast<void*>(vkg.vkGetInstanceProcAddr), &surface) == 0;
    }
    if (fits) {
        s->surface = VkSurfaceKHR(surface);
        VkBool32 presents = VK_FALSE;
        fits = s->fi.vkGetPhysicalDeviceSurfaceSupportKHR(s->physical, s->family, s->surface, &presents) == VK_SUCCESS &&
               presents;
    }
    if (!fits) {
        log_printf(Log_Level::Debug, "ren_vulkan: the prepared device does not suit the window: it is made anew");
        vulkan_discard_prepared(p);
        return vulkan_create(window, out);
    }
    delete p;
    s->window_width = window->width;
    s->window_height = window->height;
    return finish_backend(s, out);
}

bool vulkan_load() {
    if (load_state == Load_State::Loaded) return true;
    if (load_state == Load_State::Failed) return false;
    Dyn_Lib lib = lib_open(vulkan_loader_name());
    void* gipa = lib ? lib_symbol(lib, "vkGetInstanceProcAddr") : nullptr;
    if (!gipa) {
        lib_close(lib);
        load_state = Load_State::Failed;
        return false;
    }
    vkg.vkGetInstanceProcAddr = reinterpret_cast<PFN_vkGetInstanceProcAddr>(gipa);
#define QM_VK_RESOLVE_GLOBAL(name) vkg.name = reinterpret_cast<PFN_##name>(vkg.vkGetInstanceProcAddr(nullptr, #name));
    QM_VK_GLOBAL(QM_VK_RESOLVE_GLOBAL)
#undef QM_VK_RESOLVE_GLOBAL
    auto again = reinterpret_cast<PFN_vkGetInstanceProcAddr>(vkg.vkGetInstanceProcAddr(nullptr, "vkGetInstanceProcAddr"));
    if (again) vkg.vkGetInstanceProcAddr = again;
    if (!vkg.vkCreateInstance) {
        load_state = Load_State::Failed;
        return false;
    }
    load_state = Load_State::Loaded;
    return true;
}

void resolve_instance(VkInstance instance, Vk_Instance_Fns& f) {
#define QM_VK_RESOLVE_INSTANCE(name) f.name = reinterpret_cast<PFN_##name>(vkg.vkGetInstanceProcAddr(instance, #name));
    QM_VK_INSTANCE(QM_VK_RESOLVE_INSTANCE)
#undef QM_VK_RESOLVE_INSTANCE
}

std::string loader_version_problem(uint32_t version) {
    if (version == 0) return "the Vulkan loader is older than 1.1";
    if (version < ((1u << 22) | (2u << 12)))
        return "the Vulkan loader is " + std::to_string(version >> 22) + "." + std::to_string((version >> 12) & 0x3FF) +
               ", 1.2 is needed";
    return "";
}

Device_Choice choose_device(std::span<const Device_Facts> devices) {
    Device_Choice c;
    if (devices.empty()) {
        c.reason = "no Vulkan device";
        return c;
    }
    std::string last_reason;
    for (size_t i = 0; i < devices.size(); ++i) {
        const Device_Facts& d = devices[i];
        std::string why;
        if (d.api_version < VK_API_VERSION_1_2) {
            why = d.name + ": Vulkan " + version_text(d.api_version) + ", 1.2 is needed";
        } else if (!d.has_dynamic_rendering || !d.has_synchronization2 || !d.dynamic_rendering_on ||
                   !d.synchronization2_on) {
            why = d.name + ": Vulkan " + version_text(d.api_version) + " without dynamic rendering / synchronization2";
        } else if (!d.has_swapchain) {
            why = d.name + ": no VK_KHR_swapchain";
        } else if (d.family < 0) {
            why = d.name + ": no queue that draws and presents";
        }
        if (!why.empty()) {
            last_reason = why;
            continue;
        }
        if (!c.found || (d.discrete && !devices[size_t(c.index)].discrete)) {
            c.found = true;
            c.index = int(i);
        }
    }
    if (!c.found) c.reason = last_reason.empty() ? "no suitable device" : last_reason;
    return c;
}

Probe_Result vulkan_probe() {
    Probe_Result p;
    if (!vulkan_load()) {
        p.text = std::string(vulkan_loader_name()) + " not found: no Vulkan driver is installed";
        return p;
    }
    Vk_Instance_Fns fi;
    Instance_Result inst = create_instance(nullptr, fi, nullptr);
    if (!inst.instance) {
        p.text = inst.reason;
        return p;
    }
    Found_Device dev = find_device(inst.instance, fi, VK_NULL_HANDLE);
    if (dev.found) {
        p.available = true;
        p.text = probe_text(dev);
        p.device = dev.name;
    } else {
        p.text = dev.reason;
    }
    fi.vkDestroyInstance(inst.instance, nullptr);
    return p;
}

Create_Error vulkan_create(Window* window, Backend& out) {
    if (!window || !vulkan_window_usable(*window)) return Create_Error::Not_A_Native_Window;
    if (!vulkan_load()) return Create_Error::Unavailable;
    Vk_State* s = new Vk_State;
    pool_init(s->textures);
    pool_init(s->shaders);
    s->window_width = window->width;
    s->window_height = window->height;
    Instance_Result inst = create_instance(window, s->fi, &s->messenger);
    if (!inst.instance) {
        log_printf(Log_Level::Error, "ren_vulkan: %s", inst.reason.c_str());
        destroy_state(s);
        return Create_Error::Unavailable;
    }
    s->instance = inst.instance;
    uint64_t surface = 0;
    int r = vulkan_make_surface(*window, s->instance, reinterpret_cast<void*>(vkg.vkGetInstanceProcAddr), &surface);
    if (r != 0) {
        log_printf(Log_Level::Error, "ren_vulkan: creating the surface failed: %s", result_name(VkResult(r)));
        destroy_state(s);
        return Create_Error::Object_Failed;
    }
    s->surface = VkSurfaceKHR(surface);
    return finish_create(s, out);
}

Create_Error vulkan_create_offscreen(int width, int height, Backend& out) {
    if (width < 1 || height < 1) return Create_Error::Object_Failed;
    if (!vulkan_load()) return Create_Error::Unavailable;
    Vk_State* s = new Vk_State;
    pool_init(s->textures);
    pool_init(s->shaders);
    s->offscreen = true;
    s->capture = true;
    s->window_width = width;
    s->window_height = height;
    Instance_Result inst = create_instance(nullptr, s->fi, &s->messenger);
    if (!inst.instance) {
        log_printf(Log_Level::Error, "ren_vulkan: %s", inst.reason.c_str());
        destroy_state(s);
        return Create_Error::Unavailable;
    }
    s->instance = inst.instance;
    return finish_create(s, out);
}

Backend_Desc vulkan_backend_desc() { return {Backend_Kind::Vulkan, vulkan_probe, vulkan_create, false}; }

int vulkan_validation_errors() { return validation_errors.load(); }

std::string describe_backend(const Vk_State& s, const std::string& device_name, uint32_t api_version) {
    const char* mode = "other";
    switch (int(s.present_mode)) {
    case 0: mode = "immediate"; break;
    case 1: mode = "mailbox"; break;
    case 2: mode = "fifo (vsync)"; break;
    case 3: mode = "fifo relaxed"; break;
    }
    if (s.offscreen) mode = "offscreen";
    return "Vulkan " + version_text(api_version) + ", " + device_name + ", " + mode;
}

void destroy_state(Vk_State* s) {
    if (!s) return;
    auto& f = s->fd;
    if (s->device) {
        f.vkDeviceWaitIdle(s->device);
        run_deferred(*s, 0, true);
        for (Upload& u : s->uploads) destroy_staging(*s, u.staging);
        s->uploads.clear();
        for (auto& e : s->textures.slots) {
            if (e.live) destroy_texture_objects(*s, e.object);
        }
        for (Frame& fr : s->frames) {
            destroy_staging(*s, fr.vertices);
            destroy_staging(*s, fr.indices);
            destroy_staging(*s, fr.uniforms);
            destroy_staging(*s, fr.capture);
            if (fr.texture_pool) f.vkDestroyDescriptorPool(s->device, fr.texture_pool, nullptr);
            if (fr.fence) f.vkDestroyFence(s->device, fr.fence, nullptr);
            if (fr.acquired) f.vkDestroySemaphore(s->device, fr.acquired, nullptr);
            if (fr.command_pool) f.vkDestroyCommandPool(s->device, fr.command_pool, nullptr);
        }
        finish_warming(*s);
        for (auto& [key, pipeline] : s->pipelines) f.vkDestroyPipeline(s->device, pipeline, nullptr);
        s->pipelines.clear();
        for (auto& e : s->shaders.slots) {
            if (e.live) destroy_shader_objects(*s, e.object);
        }
        if (s->transient_pool) f.vkDestroyCommandPool(s->device, s->transient_pool, nullptr);
        if (s->uniform_pool) f.vkDestroyDescriptorPool(s->device, s->uniform_pool, nullptr);
        if (s->uniform_set_layout) f.vkDestroyDescriptorSetLayout(s->device, s->uniform_set_layout, nullptr);
        if (s->texture_pool) f.vkDestroyDescriptorPool(s->device, s->texture_pool, nullptr);
        if (s->pipeline_layout) f.vkDestroyPipelineLayout(s->device, s->pipeline_layout, nullptr);
        if (s->texture_set_layout) f.vkDestroyDescriptorSetLayout(s->device, s->texture_set_layout, nullptr);
        for (VkSampler sm : s->samplers) {
            if (sm) f.vkDestroySampler(s->device, sm, nullptr);
        }
        if (s->vertex_module) f.vkDestroyShaderModule(s->device, s->vertex_module, nullptr);
        for (int m = 1; m < 4; ++m) {
            if (s->fragment_modules[m]) f.vkDestroyShaderModule(s->device, s->fragment_modules[m], nullptr);
        }
        // The per-image semaphores and views go with the swapchain, before
        // the device that owns them.
        destroy_swapchain_objects(*s);
        f.vkDestroyDevice(s->device, nullptr);
    }
    if (s->surface) s->fi.vkDestroySurfaceKHR(s->instance, s->surface, nullptr);
    if (s->messenger && s->fi.vkDestroyDebugUtilsMessengerEXT)
        s->fi.vkDestroyDebugUtilsMessengerEXT(s->instance, s->messenger, nullptr);
    if (s->instance) s->fi.vkDestroyInstance(s->instance, nullptr);
    pool_destroy(s->textures);
    pool_destroy(s->shaders);
    delete s;
}

void backend_destroy(Backend& b) {
    destroy_state(static_cast<Vk_State*>(b.state));
    b = Backend{};
}

VkResult note_result(Vk_State& s, VkResult r) {
    if (r == VK_ERROR_DEVICE_LOST) s.device_lost = true;
    return r;
}

const char* result_name(VkResult r) {
    switch (r) {
    case VK_SUCCESS: return "VK_SUCCESS";
    case VK_NOT_READY: return "VK_NOT_READY";
    case VK_TIMEOUT: return "VK_TIMEOUT";
    case VK_SUBOPTIMAL_KHR: return "VK_SUBOPTIMAL_KHR";
    case VK_ERROR_OUT_OF_HOST_MEMORY: return "VK_ERROR_OUT_OF_HOST_MEMORY";
    case VK_ERROR_OUT_OF_DEVICE_MEMORY: return "VK_ERROR_OUT_OF_DEVICE_MEMORY";
    case VK_ERROR_INITIALIZATION_FAILED: return "VK_ERROR_INITIALIZATION_FAILED";
    case VK_ERROR_DEVICE_LOST: return "VK_ERROR_DEVICE_LOST";
    case VK_ERROR_LAYER_NOT_PRESENT: return "VK_ERROR_LAYER_NOT_PRESENT";
    case VK_ERROR_EXTENSION_NOT_PRESENT: return "VK_ERROR_EXTENSION_NOT_PRESENT";
    case VK_ERROR_FEATURE_NOT_PRESENT: return "VK_ERROR_FEATURE_NOT_PRESENT";
    case VK_ERROR_INCOMPATIBLE_DRIVER: return "VK_ERROR_INCOMPATIBLE_DRIVER";
    case VK_ERROR_OUT_OF_DATE_KHR: return "VK_ERROR_OUT_OF_DATE_KHR";
    case VK_ERROR_SURFACE_LOST_KHR: return "VK_ERROR_SURFACE_LOST_KHR";
    case VK_ERROR_NATIVE_WINDOW_IN_USE_KHR: return "VK_ERROR_NATIVE_WINDOW_IN_USE_KHR";
    case VK_ERROR_INVALID_SHADER_NV: return "VK_ERROR_INVALID_SHADER_NV";
    default: return "VkResult (other)";
    }
}

const char* format_name(VkFormat f) {
    switch (f) {
    case VK_FORMAT_B8G8R8A8_UNORM: return "B8G8R8A8_UNORM";
    case VK_FORMAT_B8G8R8A8_SRGB: return "B8G8R8A8_SRGB";
    case VK_FORMAT_R8G8B8A8_UNORM: return "R8G8B8A8_UNORM";
    case VK_FORMAT_R8G8B8A8_SRGB: return "R8G8B8A8_SRGB";
    case VK_FORMAT_R8_UNORM: return "R8_UNORM";
    case VK_FORMAT_R8G8_UNORM: return "R8G8_UNORM";
    case VK_FORMAT_R16G16B16A16_SFLOAT: return "R16G16B16A16_SFLOAT";
    case VK_FORMAT_R32G32B32A32_SFLOAT: return "R32G32B32A32_SFLOAT";
    case VK_FORMAT_A2B10G10R10_UNORM_PACK32: return "A2B10G10R10_UNORM";
    default: return "VkFormat (other)";
    }
}
