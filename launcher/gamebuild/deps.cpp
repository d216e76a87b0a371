#include "launcher/gamebuild/deps.h"

#include "engine/kt_system/child.h"
#include "engine/kt_system/clock.h"
#include "engine/kt_system/env.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "engine/kt_system/shell.h"
#include "engine/kt_system/thread.h"
#include "launcher/core/bundle.h"
#include "launcher/core/child_run.h"
#include "launcher/core/format.h"
#include "launcher/core/parse_int.h"
#include "launcher/core/paths.h"
#include "launcher/core/settings.h"

#ifdef _WIN32
constexpr bool windows_host = true;
#else
constexpr bool windows_host = false;
#endif
#if defined(__x86_64__) || defined(_M_X64)
constexpr bool x86_64_host = true;
#else
constexpr bool x86_64_host = false;
#endif

const char llvm_mingw_package[] = "MartinStorsjo.LLVM-MinGW.UCRT";
const char ffmpeg_package[] = "Gyan.FFmpeg";

// Builds only where the compiler finds the thread library, the vector
// intrinsics and (on Windows) the system and DXGI headers, links statically
// and makes a program that runs here: it prints "ok 4".
const char probe_source[] =
    "#include <pthread.h>\n"
    "#include <stdio.h>\n"
    "#if defined(__x86_64__) || defined(_M_X64)\n"
    "#include <xmmintrin.h>\n"
    "#else\n"
    "#include <arm_neon.h>\n"
    "#endif\n"
    "#ifdef _WIN32\n"
    "#include <windows.h>\n"
    "#include <dxgi.h>\n"
    "#endif\n"
    "static float v = 16.0f;\n"
    "static void *work(void *arg) {\n"
    "#if defined(__x86_64__) || defined(_M_X64)\n"
    "    v = _mm_cvtss_f32(_mm_sqrt_ss(_mm_set_ss(v)));\n"
    "#else\n"
    "    v = vgetq_lane_f32(vsqrtq_f32(vdupq_n_f32(v)), 0);\n"
    "#endif\n"
    "    return arg;\n"
    "}\n"
    "int main(void) {\n"
    "    pthread_t t;\n"
    "    if (pthread_create(&t, 0, work, 0) != 0) return 1;\n"
    "    pthread_join(t, 0);\n"
    "    printf(\"ok %d\\n\", (int)v);\n"
    "    return 0;\n"
    "}\n";

namespace {

Slim_Lock g_deps_lock;
std::vector<Compiler> g_compilers;
Dependency g_deps[dep_kind_count];
std::atomic<uint8_t> g_probed{0};

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

bool starts_with(std::string_view s, std::string_view p) { return s.size() >= p.size() && s.compare(0, p.size(), p) == 0; }

void add_once(std::vector<std::string>& list, std::string_view path) {
    if (path.empty()) return;
    std::string key = lower(path);
    for (const std::string& have : list) {
        if (lower(have) == key) return;
    }
    list.emplace_back(path);
}

// In LOCALAPPDATA\Microsoft\WinGet\Packages, every package folder whose name
// begins with `family`, and in each every entry E: E\bin\<program> when it is
// a file.
void winget_packages(std::vector<std::string>& out, std::string_view family, std::string_view program) {
    std::string packages = path_join({env_get("LOCALAPPDATA"), "Microsoft", "WinGet", "Packages"});
    std::vector<Dir_Entry> folders;
    if (env_get("LOCALAPPDATA").empty() || !fs_list(packages, folders)) return;
    for (const Dir_Entry& f : folders) {
        if (!starts_with(f.name, family)) continue;
        std::string folder = path_join({packages, f.name});
        std::vector<Dir_Entry> entries;
        if (!fs_list(folder, entries)) continue;
        for (const Dir_Entry& e : entries) {
            std::string candidate = path_join({folder, e.name, "bin", program});
            if (file_exists(candidate)) add_once(out, candidate);
        }
    }
}

Cmd winget_install(std::string_view winget, std::string_view package) {
    return {std::string(winget), "install", "--id", std::string(package), "-e", "--scope", "user",
            "--accept-package-agreements", "--accept-source-agreements", "--disable-interactivity"};
}

// The reason for an exit code that says the program itself failed to run;
// "" for any other code.
std::string crash_reason(int64_t code) {
    switch (static_cast<uint32_t>(code)) {
        case 0xC0000005u: return "it crashed";
        case 0xC000007Bu: return "it or a DLL it needs is not a 64-bit program";
        case 0xC0000135u: return "a DLL it needs is missing";
        case 0xC0000139u: return "a DLL it needs is the wrong version";
        default: break;
    }
    // Elsewhere a signal ended it (an exit status of its own, 139 say, is
    // not a crash).
    if (code >= 0 && code <= 0xFFFFFFFF) {
        int sig = child_signal_of(static_cast<uint32_t>(code));
        if (sig != 0) return fmt("it crashed with signal %d", sig);
    }
    return std::string();
}

std::atomic<int64_t> g_probe_limit_ms{0};

int64_t probe_limit_ns() {
    int64_t ms = g_probe_limit_ms.load();
    return (ms > 0 ? ms : probe_time_limit_s * 1000) * 1000000;
}

// The reason for a program of the probe that the time limit stopped.
std::string no_answer_reason() {
    int64_t ms = g_probe_limit_ms.load();
    return ms > 0 ? fmt("it did not answer within %d ms", ms)
                  : fmt("it did not answer within %d seconds", probe_time_limit_s);
}

std::string first_line(std::string_view text) {
    size_t end = text.find_first_of("\r\n");
    return std::string(trim_space(text.substr(0, end)));
}

// The text that names one installation: "--version" less everything up to
// and including its first blank.
std::string version_identity(std::string_view version) {
    size_t blank = version.find(' ');
    return blank == std::string_view::npos ? std::string() : std::string(version.substr(blank + 1));
}

// The probe and "--version" of every candidate; the usable Clangs in order.
std::vector<Compiler> probe_all(Task& t, std::vector<std::string>& notes) {
    std::vector<Compiler> listed;
    std::vector<std::string> seen;
    for (const std::string& candidate : compiler_candidates()) {
        std::string reason;
        if (!probe_compiler(t, candidate, reason)) {
            notes.push_back(fmt("%s: %s", path_base(candidate), reason));
            continue;
        }
        std::string version;
        int64_t code = 0;
        child_run(t, {candidate, "--version"}, "", Output_Mode::Quiet, &version, nullptr, probe_limit_ns(), &code);
        std::string identity = version_identity(version);
        bool same = false;
        for (const std::string& s : seen) same = same || s == identity;
        if (same) continue;
        seen.push_back(identity);
        if (version.find("clang") != std::string::npos) {
            listed.push_back(Compiler{candidate, true, std::string()});
        } else {
            notes.push_back(fmt("%s: GCC (the game is built with Clang here)", path_base(candidate)));
        }
    }
    return listed;
}

}  // namespace

std::vector<Compiler> compilers_get() {
    Shared_Guard guard(g_deps_lock);
    return g_compilers;
}

Dependency dependency_get(Dep_Kind kind) {
    Shared_Guard guard(g_deps_lock);
    return g_deps[static_cast<int>(kind)];
}

void dependency_set(Dep_Kind kind, const Dependency& d) {
    Lock_Guard guard(g_deps_lock);
    g_deps[static_cast<int>(kind)] = d;
}

void probe_set_time_limit_ms(int64_t ms) { g_probe_limit_ms.store(ms > 0 ? ms : 0); }

bool compilers_probed() { return g_probed.load() != 0; }

std::vector<std::string> compiler_candidates() {
    std::vector<std::string> out;
    std::string saved = settings_copy().compiler;
    if (path_is_absolute(saved) && file_exists(saved)) add_once(out, saved);
    if (windows_host) add_once(out, find_program("x86_64-w64-mingw32-clang"));
    add_once(out, find_program("clang"));
    if (windows_host) {
        winget_packages(out, "MartinStorsjo.LLVM-MinGW", "x86_64-w64-mingw32-clang.exe");
        for (const char* path : {"C:\\msys64\\ucrt64\\bin\\clang.exe", "C:\\msys64\\clang64\\bin\\clang.exe"}) {
            if (file_exists(path)) add_once(out, path);
        }
    }
    return out;
}

bool probe_compiler(Task& t, std::string_view compiler, std::string& reason) {
    std::string folder = data_path({"probe"});
    std::string source = path_join({folder, "probe.c"});
    std::string program = path_join({folder, windows_host ? "probe.exe" : "probe"});
    fs_make_dirs(folder);
    fs_remove_file(program);
    if (!fs_write(source, probe_source)) {
        reason = "cannot write in the launcher's folder";
        return false;
    }
    Cmd build{std::string(compiler)};
    if (x86_64_host) build.emplace_back("-m64");
    for (const std::string& a : {std::string("-O0"), source, std::string("-o"), program}) build.push_back(a);
    for (const std::string& lib : host_probe_libs()) build.push_back(lib);
    std::string output;
    int64_t code = 0;
    if (!child_run(t, build, "", Output_Mode::Quiet, &output, nullptr, probe_limit_ns(), &code)) {
        reason = "it does not start";
        return false;
    }
    if (code == -1) {
        reason = no_answer_reason();
        return false;
    }
    if (code != 0) {
        reason = crash_reason(code);
        if (reason.empty()) reason = fmt("it cannot build the game (%s)", first_line(output));
        return false;
    }
    std::string said;
    code = 0;
    bool started = child_run(t, {program}, "", Output_Mode::Quiet, &said, nullptr, probe_limit_ns(), &code);
    if (started && code == -1) {
        reason = fmt("the programs it makes do not run here (%s)", no_answer_reason());
        return false;
    }
    std::string crash = started ? crash_reason(code) : std::string();
    if (!crash.empty()) {
        reason = fmt("the programs it makes do not run here (%s)", crash);
        return false;
    }
    if (!started || code != 0 || !starts_with(said, "ok 4")) {
        reason = "the programs it makes do not run here";
        return false;
    }
    return true;
}

void choose_compiler(bool save_later) {
    Lock_Guard guard(g_deps_lock);
    if (g_compilers.empty()) return;
    std::string saved = settings_copy().compiler;
    std::string chosen = g_compilers.front().path;
    for (const Compiler& c : g_compilers) {
        if (c.path == saved) chosen = c.path;
    }
    if (chosen != saved) {
        std::string err;
        if (settings_set_string(&Settings::compiler, "compiler", chosen, &err)) {
            if (save_later) save_settings_later();
            else save_settings();
        }
    }
    Dependency& d = g_deps[static_cast<int>(Dep_Kind::Compiler)];
    d.found = chosen;
    d.status = chosen;
}

bool compiler_is_clang() {
    std::string saved = settings_copy().compiler;
    {
        Shared_Guard guard(g_deps_lock);
        for (const Compiler& c : g_compilers) {
            if (c.path == saved) return c.clang;
        }
    }
    return lower(saved).find("clang") != std::string::npos;
}

std::string compiler_label(std::string_view path) {
    Shared_Guard guard(g_deps_lock);
    for (const Compiler& c : g_compilers) {
        if (c.path == path) return c.label;
    }
    return std::string(path);
}

std::vector<std::string> ffmpeg_candidates() {
    std::vector<std::string> out;
    add_once(out, find_program("ffmpeg"));
    if (windows_host) {
        std::string local = env_get("LOCALAPPDATA");
        std::string profile = env_get("USERPROFILE");
        std::string links = local.empty() ? std::string() : path_join({local, "Microsoft", "WinGet", "Links", "ffmpeg.exe"});
        std::string scoop = profile.empty() ? std::string() : path_join({profile, "scoop", "shims", "ffmpeg.exe"});
        for (const std::string& path : {links, scoop, std::string("C:\\ProgramData\\chocolatey\\bin\\ffmpeg.exe")}) {
            if (!path.empty() && file_exists(path)) add_once(out, path);
        }
        winget_packages(out, "Gyan.FFmpeg", "ffmpeg.exe");
    }
    return out;
}

Dependency check_ffmpeg(Task& t, const std::vector<std::string>& candidates) {
    Dependency d;
    d.name = "FFmpeg";
    d.role = "converts the movies (the game plays them without it)";
    std::string first_ran;
    for (const std::string& candidate : candidates) {
        std::string output;
        int64_t code = 0;
        if (!child_run(t, {candidate, "-hide_banner", "-encoders"}, "", Output_Mode::Quiet, &output, nullptr, 0, &code) ||
            code != 0)
            continue;
        if (output.find(" libx264 ") != std::string::npos && output.find(" aac ") != std::string::npos) {
            d.found = candidate;
            d.status = candidate;
            d.ok = true;
            return d;
        }
        if (first_ran.empty()) first_ran = candidate;
    }
    d.status = first_ran.empty() ? std::string("not found")
                                 : fmt("%s (it has no H.264 encoder: it cannot convert the movies)", first_ran);
    if (windows_host) {
        std::string winget = find_program("winget");
        if (!winget.empty()) {
            d.install = winget_install(winget, ffmpeg_package);
            d.install_label = "Install FFmpeg (winget)";
        }
    }
    return d;
}

void deps_check_task(Task& t) {
    std::vector<std::string> notes;
    std::vector<Compiler> listed = probe_all(t, notes);

    // A cancelled run has seen its probes stopped half-way: what it found says
    // nothing about the compilers, so the previous findings stay.
    if (!t.cancel.load()) {
        Dependency d;
        d.name = "C compiler";
        d.role = "builds the game from the bundled sources";
        if (listed.empty()) {
            if (windows_host && !find_program("cl").empty())
                notes.emplace_back("Visual C++ (cl) is installed, but it cannot build the game yet (it needs clang)");
            if (notes.empty()) {
                d.status = "none found";
            } else {
                for (size_t i = 0; i < notes.size(); ++i) d.status += (i > 0 ? "; " : "") + notes[i];
            }
            if (windows_host) {
                std::string winget = find_program("winget");
                if (!winget.empty()) {
                    d.install = winget_install(winget, llvm_mingw_package);
                    d.install_label = "Install LLVM-MinGW (winget)";
                }
            }
        } else {
            for (Compiler& c : listed) c.label = listed.size() == 1 ? std::string("Clang") : fmt("%s \xE2\x80\x94 %s", "Clang", c.path);
            d.found = listed.front().path;
            d.status = listed.front().path;
        }
        {
            Lock_Guard guard(g_deps_lock);
            g_compilers = std::move(listed);
            g_deps[static_cast<int>(Dep_Kind::Compiler)] = d;
        }
        choose_compiler();
    }

    set_status(t, -1, "Looking for FFmpeg");
    Dependency ffmpeg;
    if (bundle_has("tools/ffmpeg.exe")) {
        ffmpeg.name = "FFmpeg";
        ffmpeg.role = "converts the movies (the game plays them without it)";
        ffmpeg.found = data_path({"tools", "ffmpeg.exe"});
        ffmpeg.status = "included with the launcher";
        ffmpeg.ok = true;
    } else if (bundle_has("tools/wine/ffmpeg.exe")) {
        ffmpeg.name = "FFmpeg";
        ffmpeg.role = "converts the movies (the game plays them without it)";
        ffmpeg.found = data_path({"tools", "wine", "ffmpeg.exe"});
        ffmpeg.status = "included with the launcher (the Windows FFmpeg: Convert Movies runs it through Wine)";
        ffmpeg.ok = true;
    } else {
        ffmpeg = check_ffmpeg(t, ffmpeg_candidates());
    }
    Dependency compiler_entry, ffmpeg_entry;
    {
        Lock_Guard guard(g_deps_lock);
        if (!t.cancel.load()) g_deps[static_cast<int>(Dep_Kind::FFmpeg)] = ffmpeg;
        compiler_entry = g_deps[static_cast<int>(Dep_Kind::Compiler)];
        ffmpeg_entry = g_deps[static_cast<int>(Dep_Kind::FFmpeg)];
    }
    logf(t, "%s: %s", compiler_entry.name, compiler_entry.status);
    logf(t, "%s: %s", ffmpeg_entry.name, ffmpeg_entry.status);
    g_probed.exchange(1);
    set_status(t, 1.0f, "Checked what is installed");
}

void deps_install_task(Task& t) {
    uint64_t index = t.data;
    if (index >= static_cast<uint64_t>(dep_kind_count)) return;
    Cmd command;
    std::string label;
    bool elevate = false;
    {
        Shared_Guard guard(g_deps_lock);
        const Dependency& d = g_deps[index];
        command = clone_cmd(d.install);
        label = d.install_label;
        elevate = d.elevate;
    }
    if (command.empty()) return;
    set_status(t, -1, "%s", label);

    bool started = false;
    int64_t code = -1;
    if (!elevate) {
        started = child_run(t, command, "", Output_Mode::Log, nullptr, nullptr, 0, &code);
    } else {
        logf(t, "Asking for administrator permission to run: %s", win_cmdline(command));
        Cmd rest(command.begin() + 1, command.end());
        Elevated_Process* p = shell_run_elevated(command.front(), win_cmdline(rest));
        if (!p) {
            log_line(t, "Administrator permission was not given.");
        } else {
            // Cancel stops the installer: the wait looks at the cancel flag
            // between short waits.
            started = true;
            uint32_t exit = 0;
            bool stopped = false;
            while (!shell_elevated_wait(p, 100, exit)) {
                if (t.cancel.load() && !stopped) {
                    shell_elevated_terminate(p, 1);
                    stopped = true;
                }
            }
            code = exit;
            shell_elevated_close(p);
        }
    }
    if (started && code != 0) {
        logf(t, "The install ended with code %d.", code);
        t.failed.store(1);
    } else if (!started) {
        t.failed.store(1);
    }
    deps_check_task(t);
}
