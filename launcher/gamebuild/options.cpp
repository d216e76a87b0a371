#include "launcher/gamebuild/options.h"

#include <mutex>

#include "engine/kt_system/path.h"
#include "launcher/gamebuild/deps.h"
#include "launcher/core/format.h"
#include "launcher/core/paths.h"
#include "launcher/core/settings.h"

const char* const windows_system_libs[windows_system_lib_count] = {
    "-static",  "-Wl,--image-base,0x200000000", "-pthread", "-ldxguid", "-lole32",
    "-loleaut32", "-luuid", "-luser32", "-lgdi32", "-lwinmm",
    "-limm32",  "-lshell32", "-lsetupapi", "-lversion", "-lm",
};
const char* const windows_net_libs[windows_net_lib_count] = {"-lws2_32", "-lsecur32", "-lcrypt32", "-lncrypt", "-lbcrypt"};
const char* const linux_libs[linux_lib_count] = {"-l:libssl.so.3", "-l:libcrypto.so.3", "-pthread", "-lm", "-ldl"};
const char* const android_libs[android_lib_count] = {"-landroid", "-llog", "-laaudio", "-lmediandk", "-lm", "-ldl", "-lc"};

namespace {

std::mutex g_profile_lock;
std::string g_profile;

int64_t opt_level(const Settings& s) {
    if (s.opt_level < 0) return 0;
    if (s.opt_level > 3) return 3;
    return s.opt_level;
}

bool is_cross(const Build_Spec& req) { return req.target != nullptr; }
bool is_android(const Build_Spec& req) { return req.target && req.target->android; }

template <size_t N>
void append(Cmd& out, const char* const (&table)[N]) {
    for (const char* s : table) out.emplace_back(s);
}
void append(Cmd& out, const Cmd& more) { out.insert(out.end(), more.begin(), more.end()); }

bool lto_with(const Build_Spec& req, const Settings& s, bool clang) {
    if (!s.lto) return false;
    return is_cross(req) || !clang || !find_lld(s.compiler).empty();
}

}  // namespace

void set_profile_path(std::string_view path) {
    std::lock_guard<std::mutex> guard(g_profile_lock);
    g_profile = std::string(path);
}

std::string profile_path() {
    std::lock_guard<std::mutex> guard(g_profile_lock);
    return g_profile;
}

std::string triple_arch(const Build_Spec& req) {
    if (!req.target) return "x86_64";
    std::string_view triple = req.target->triple;
    size_t dash = triple.find('-');
    return std::string(dash == std::string_view::npos ? triple : triple.substr(0, dash));
}

std::string find_lld(std::string_view compiler) {
    if (compiler.empty()) return std::string();
    std::string dir = path_dir(compiler);
    for (const char* name : {"ld.lld.exe", "ld.lld"}) {
        std::string candidate = dir.empty() ? std::string(name) : path_join({dir, name});
        if (file_exists(candidate)) return candidate;
    }
    return std::string();
}

Cmd clone_cmd(const Cmd& cmd) {
    Cmd out;
    out.reserve(cmd.size());
    for (const std::string& s : cmd) out.emplace_back(s.data(), s.size());
    return out;
}

bool lto_on(const Build_Spec& req) { return lto_with(req, settings_copy(), compiler_is_clang()); }

Cmd spec_arch_flags(const Build_Spec& req) {
    if (!is_cross(req)) return {};
    return {fmt("--target=%s", req.target->triple), fmt("--sysroot=%s", req.sysroot)};
}

Cmd common_flags(const Build_Spec& req) {
    Settings s = settings_copy();
    bool clang = compiler_is_clang();
    Cmd out;
    out.push_back(is_cross(req) ? fmt("-mcpu=%s", req.cpu) : std::string("-march=native"));
    for (const char* f : {"-ffast-math", "-fno-associative-math", "-fno-reciprocal-math", "-fsigned-zeros",
                          "-fno-finite-math-only", "-ffp-contract=off"})
        out.emplace_back(f);
    if (!is_cross(req)) {
        out.emplace_back("-mrecip=none");
    } else if (is_android(req)) {
        for (const char* f : {"-fPIC", "-fvisibility=hidden", "-mbranch-protection=none", "-fno-stack-protector"})
            out.emplace_back(f);
    } else {
        for (const char* f : {"-fno-pie", "-mbranch-protection=none", "-fno-stack-protector"}) out.emplace_back(f);
    }
    if (lto_with(req, s, clang)) out.emplace_back(is_cross(req) || clang ? "-flto=thin" : "-flto=auto");
    std::string profile = profile_path();
    if (!profile.empty()) out.push_back(fmt("-fprofile-instr-use=%s", profile));
    return out;
}

Cmd runtime_option_flags(const Build_Spec& req) {
    Settings s = settings_copy();
    Cmd out;
    out.push_back(fmt("-O%d", opt_level(s)));
    out.emplace_back("-w");
    append(out, common_flags(req));
    if (is_cross(req) || compiler_is_clang()) out.emplace_back("-fno-addrsig");
    out.emplace_back("-DZQR_FRAME_LIMIT=60");
    if (!s.tools || is_android(req)) out.emplace_back("-DZQR_NO_TOOLS");
    if (s.experimental) out.emplace_back("-DZQR_EXPERIMENTAL");
    return out;
}

Cmd page_option_flags(const Build_Spec& req) {
    Settings s = settings_copy();
    Cmd out;
    out.push_back(fmt("-O%d", opt_level(s)));
    append(out, common_flags(req));
    for (const char* f : {"-w", "-fno-strict-aliasing", "-fwrapv"}) out.emplace_back(f);
    if (is_cross(req) || compiler_is_clang()) out.emplace_back("-fno-addrsig");
    return out;
}

Cmd link_option_flags(const Build_Spec& req) {
    Settings s = settings_copy();
    bool clang = compiler_is_clang();
    bool lto = lto_with(req, s, clang);
    std::string level = fmt("-O%d", opt_level(s));
    Cmd out;
    if (is_android(req)) {
        out.push_back(fmt("--ld-path=%s", req.linker));
        for (const char* f : {"-shared", "-fuse-ld=lld", "-Wl,-z,max-page-size=16384", "-Wl,--no-undefined", "-u",
                              "ANativeActivity_onCreate", "-nodefaultlibs", "-s"})
            out.emplace_back(f);
        if (lto) {
            out.emplace_back("-flto=thin");
            out.push_back(level);
        }
    } else if (is_cross(req)) {
        out.push_back(fmt("--ld-path=%s", req.linker));
        for (const char* f : {"-no-pie", "-fuse-ld=lld", "-Wl,-S"}) out.emplace_back(f);
        if (lto) {
            out.emplace_back("-flto=thin");
            out.push_back(level);
        }
    } else {
        out.emplace_back("-Wl,-S");
        if (lto) {
            out.emplace_back(clang ? "-flto=thin" : "-flto=auto");
            out.push_back(level);
            if (clang) out.emplace_back("-fuse-ld=lld");
        } else if (!profile_path().empty()) {
            out.emplace_back("-fuse-ld=lld");
        }
    }
    return out;
}

Cmd page_flags(const Build_Spec& req, std::string_view src) {
    Cmd out = spec_arch_flags(req);
    append(out, page_option_flags(req));
    out.emplace_back("-I");
    out.push_back(path_join({src, "include"}));
    return out;
}

Cmd runtime_flags(const Build_Spec& req, std::string_view src, std::string_view own_ffmpeg, const Cmd& dlss) {
    Cmd out = spec_arch_flags(req);
    append(out, runtime_option_flags(req));
    for (const char* sub : {"include", "runtime"}) {
        out.emplace_back("-I");
        out.push_back(path_join({src, sub}));
    }
    out.emplace_back("-I");
    out.push_back(path_join({src, "ffmpeg", "include"}));
    if (!is_cross(req) && !own_ffmpeg.empty()) {
        out.emplace_back("-I");
        out.push_back(path_join({own_ffmpeg, "include"}));
    }
    out.emplace_back("-DZQR_VULKAN");
    out.emplace_back("-I");
    out.push_back(path_join({src, "vulkan", "include"}));
    if (is_android(req)) {
        out.emplace_back("-I");
        out.push_back(path_join({req.sysroot, "glue"}));
    }
    append(out, dlss);
    return out;
}

Cmd match_flags(const Build_Spec& req, std::string_view src) {
    Cmd out = page_flags(req, src);
    out.emplace_back("-I");
    out.push_back(path_join({src, "runtime"}));
    return out;
}

Cmd link_command(const Build_Spec& req, std::string_view compiler, std::string_view src, std::string_view ffmpeg_dir,
                 std::string_view output, std::string_view rsp, const Cmd& dlss_link) {
    return link_command(req, compiler, src, ffmpeg_dir, output, rsp, dlss_link, Native_Os::This);
}

Cmd link_command(const Build_Spec& req, std::string_view compiler, std::string_view src, std::string_view ffmpeg_dir,
                 std::string_view output, std::string_view rsp, const Cmd& dlss_link, Native_Os os) {
    Cmd out;
    out.emplace_back(compiler);
    append(out, spec_arch_flags(req));
    append(out, link_option_flags(req));
    out.emplace_back("-o");
    out.emplace_back(output);
    out.push_back(fmt("@%s", rsp));
    if (is_android(req)) {
        out.push_back(path_join({req.sysroot, "builtins", "libclang_rt.builtins-aarch64-android.a"}));
        append(out, android_libs);
        return out;
    }
    for (const char* lib : {"libavformat.a", "libavcodec.a", "libswresample.a", "libavutil.a"})
        out.push_back(path_join({ffmpeg_dir, "lib", lib}));
#ifdef _WIN32
    constexpr bool windows_host = true;
#else
    constexpr bool windows_host = false;
#endif
    bool windows = os == Native_Os::Windows || (os == Native_Os::This && windows_host);
    if (is_cross(req) || !windows) {
        // A cross build for Linux, or this computer when it is not Windows.
        append(out, linux_libs);
        return out;
    }
    out.push_back(path_join({src, "sdl2", "libSDL2.a"}));
    out.push_back(path_join({src, "runtime", "res", "quillmarsh_icon_x64.o"}));
    append(out, windows_net_libs);
    append(out, dlss_link);
    append(out, windows_system_libs);
    if (!settings_copy().tools) out.emplace_back("-Wl,--subsystem,windows");
    return out;
}

Cmd host_probe_libs() {
#ifdef _WIN32
    Cmd out;
    append(out, windows_system_libs);
    return out;
#else
    return {"-pthread", "-lm"};
#endif
}
