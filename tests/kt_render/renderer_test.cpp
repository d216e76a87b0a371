#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/kt_render/renderer.h"

namespace {

// Backends of a pretend kind whose probe and create answer as told.
struct Script {
    bool available = true;
    Create_Error error = Create_Error::None;
};
std::vector<Script> scripts;   // one per attempt, in order
size_t next_script = 0;
int destroyed = 0;

Probe_Result scripted_probe() {
    Probe_Result p;
    p.available = scripts.at(next_script).available;
    p.text = p.available ? "Vulkan 1.3 on test device" : "vulkan-1.dll not found: no Vulkan driver is installed";
    if (p.available) p.device = "test device";
    else ++next_script;
    return p;
}

Create_Error scripted_create(Window*, Backend& out) {
    Create_Error e = scripts.at(next_script++).error;
    if (e == Create_Error::None) {
        out.description = "test backend";
        out.destroy = [](Backend&) { ++destroyed; };
    }
    return e;
}

TEST(RendererCreate, TriesRequestedKindsAndReports) {
    using K = Backend_Kind;
    const Backend_Desc normal[] = {{K::Vulkan, scripted_probe, scripted_create, false}};
    const Backend_Desc stopping[] = {{K::Vulkan, scripted_probe, scripted_create, true}};
    const Backend_Desc incomplete[] = {{K::Vulkan, scripted_probe, nullptr, false}};
    struct Case {
        const char* what;
        std::span<const Backend_Desc> descs;
        std::vector<K> requested;
        std::vector<Script> scripts;
        int attempts;
        bool created, failed;
        int failed_at;
        std::vector<bool> create_called;
    };
    const Case cases[] = {
        {"no loader", normal, {K::Vulkan}, {{false}}, 1, false, false, 0, {false}},
        {"made", normal, {K::Vulkan}, {{}}, 1, true, false, 0, {true}},
        {"nothing requested means Vulkan", normal, {}, {{}}, 1, true, false, 0, {true}},
        {"a kind four times: three attempts", normal, {K::Vulkan, K::Vulkan, K::Vulkan, K::Vulkan},
         {{true, Create_Error::Object_Failed}, {true, Create_Error::Object_Failed}, {true, Create_Error::Unavailable},
          {}},
         3, false, false, 0, {true, true, true}},
        {"second try succeeds", normal, {K::Vulkan, K::Vulkan}, {{true, Create_Error::Not_A_Native_Window}, {}}, 2,
         true, false, 0, {true, true}},
        {"stop on failure", stopping, {K::Vulkan, K::Vulkan}, {{false}, {true, Create_Error::Object_Failed}, {}}, 2,
         false, true, 2, {false, true}},
        {"a desc without create is passed over", incomplete, {K::Vulkan}, {}, 0, false, false, 0, {}},
    };
    for (const Case& c : cases) {
        scripts = c.scripts;
        next_script = 0;
        Renderer r;
        Renderer_Report rep = renderer_create(r, nullptr, 640, 480, c.descs, c.requested);
        ASSERT_EQ(rep.attempt_count, c.attempts) << c.what;
        for (int i = 0; i < c.attempts; ++i) {
            EXPECT_EQ(rep.attempts[i].create_called, c.create_called[i]) << c.what << " " << i;
            EXPECT_EQ(rep.attempts[i].probe.available, c.scripts[i].available) << c.what;
            if (c.create_called[i]) {
                EXPECT_EQ(rep.attempts[i].create_error, c.scripts[i].error) << c.what;
            }
        }
        EXPECT_EQ(r.backend.description, c.created ? "test backend" : "") << c.what;
        EXPECT_EQ(r.backend.destroy != nullptr, c.created) << c.what;
        EXPECT_EQ(rep.failed, c.failed) << c.what;
        EXPECT_EQ(rep.failed_at, c.failed_at) << c.what;
        EXPECT_EQ(r.draw_list.window_size.width, 640) << c.what;
        EXPECT_EQ(r.draw_list.window_size.height, 480) << c.what;
        if (c.what == std::string("no loader")) {
            EXPECT_EQ(rep.attempts[0].probe.text, "vulkan-1.dll not found: no Vulkan driver is installed");
        }
        destroyed = 0;
        draw_list_destroy(r);
        EXPECT_EQ(destroyed, c.created ? 1 : 0) << c.what;
        EXPECT_EQ(r.backend.destroy, nullptr);
    }
}

TEST(RendererCreate, EmptyBackendTakesEveryCall) {
    Renderer r;
    Renderer_Report rep = renderer_create(r, nullptr, 100, 100, {}, {});
    EXPECT_EQ(rep.attempt_count, 0);
    Texture_Desc d;
    d.width = d.height = 4;
    EXPECT_EQ(ren_create_texture(r.backend, d), 0u);
    EXPECT_EQ(ren_create_shader(r.backend, Shader_Desc{}), 0u);
    uint8_t px[16] = {};
    EXPECT_FALSE(ren_update_texture(r.backend, 1, {0, 0, 2, 2}, px));
    EXPECT_TRUE(ren_read_texture(r.backend, 1).pixels.empty());
    ren_destroy_texture(r.backend, 1);
    ren_destroy_shader(r.backend, 1);
    ren_resize(r.backend, 10, 10);
    draw_list_begin_frame(r.draw_list, 0xFFF3F3F3);
    draw_rect(r.draw_list, {0, 0, 5, 5}, 0xFF000000);
    ren_render(r.backend, r.draw_list);
    EXPECT_EQ(r.draw_list.commands.size(), 1u);
    draw_list_destroy(r);
}

}  // namespace

namespace {

// A backend whose render slot counts its calls and presents unless told
// to skip the next frames.
struct Counting {
    int renders = 0;
    int skip = 0;
};

Backend counting_backend(Counting& c) {
    Backend b;
    b.state = &c;
    b.render = [](Backend& self, const Draw_List&) {
        Counting& c = *static_cast<Counting*>(self.state);
        ++c.renders;
        if (c.skip > 0) {
            --c.skip;
            return;
        }
        ++self.presented;
    };
    b.create_texture = [](Backend&, const Texture_Desc&) { return Handle(7); };
    b.update_texture = [](Backend&, Handle, Rect, std::span<const uint8_t>) { return true; };
    return b;
}

TEST(RenderChanged, OnlyFramesThatDifferFromTheShownOneAreRendered) {
    // Each step: what happens before the frame, then whether the backend
    // is asked to draw it.
    enum class Before { Same, Moved, Clear_Colour, Uniform, Resize, Texture_Written, Window_Changed, Not_Shown };
    struct Step {
        const char* what;
        Before before;
        bool rendered;
    } steps[] = {
        {"the first frame", Before::Same, true},
        {"the same list again", Before::Same, false},
        {"and again", Before::Same, false},
        {"a rectangle moved", Before::Moved, true},
        {"the same as that one", Before::Same, false},
        {"another clear colour", Before::Clear_Colour, true},
        {"a custom shader's uniforms differ", Before::Uniform, true},
        {"a new window size", Before::Resize, true},
        {"a texture's pixels written", Before::Texture_Written, true},
        {"the window exposed", Before::Window_Changed, true},
        {"the backend did not present the last one", Before::Not_Shown, true},
        {"presented now", Before::Same, true},
        {"shown", Before::Same, false},
    };
    Counting c;
    Renderer r;
    draw_list_init(r, counting_backend(c), 200, 100);
    Shown_Frame shown;
    float x = 10;
    uint32_t clear = 0xFFF3F3F3;
    float uniform = 1;
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        bool window_changed = false;
        switch (s.before) {
        case Before::Same: break;
        case Before::Moved: x += 1; break;
        case Before::Clear_Colour: clear = 0xFF101010; break;
        case Before::Uniform: uniform = 2; break;
        case Before::Resize: renderer_resize(r, 210, 100); break;
        case Before::Texture_Written: {
            const uint8_t px[4] = {1, 2, 3, 4};
            ren_update_texture(r.backend, 7, {0, 0, 1, 1}, px);
            break;
        }
        case Before::Window_Changed: window_changed = true; break;
        case Before::Not_Shown: c.skip = 1; break;
        }
        Draw_List& dl = r.draw_list;
        draw_list_begin_frame(dl, clear);
        draw_rect(dl, {int(x), 10, 30, 20}, 0xFF202020);
        draw_image(dl, 3, {0, 0, 8, 8}, {}, std::span(reinterpret_cast<const uint8_t*>(&uniform), sizeof uniform));
        if (s.before == Before::Not_Shown) {
            // The skipped frame itself was drawn because it differs.
            x += 1;
            draw_rect(dl, {0, 50, 5, 5}, 0xFF0000FF);
        }
        const int before = c.renders;
        EXPECT_EQ(render_changed(r, shown, window_changed), s.rendered);
        EXPECT_EQ(c.renders - before, s.rendered ? 1 : 0);
    }
    r.backend.state = nullptr;
    draw_list_destroy(r);
}

}  // namespace
