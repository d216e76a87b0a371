#include "launcher/gamebuild/build_game.h"

#include <algorithm>
#include <atomic>

#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "engine/kt_system/thread.h"
#include "launcher/gamebuild/build_id.h"
#include "launcher/gamebuild/config.h"
#include "launcher/gamebuild/deps.h"
#include "launcher/gamebuild/dlss.h"
#include "launcher/gamebuild/fsr4.h"
#include "launcher/gamebuild/game.h"
#include "launcher/gamebuild/run_game.h"
#include "launcher/core/build_id_cache.h"
#include "launcher/core/bundle.h"
#include "launcher/core/child_run.h"
#include "launcher/core/paths.h"
#include "launcher/core/settings.h"
#include "launcher/core/task.h"

const std::vector<std::string> build_source_prefixes = {"gen/", "runtime/", "include/", "ffmpeg/",
                                                        "vulkan/", "pgo/", "sdl2/"};

namespace {

std::atomic<Cross_Output_Proc> g_cross_output{nullptr};

void fail(Task& t, std::string_view message) {
    log_line(t, message);
    t.failed.store(1);
}

bool ends_with(std::string_view s, std::string_view tail) {
    return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

bool stamp_matches(const std::string& text, const std::string& file, bool read) { return read && file == text; }

bool uses_runtime_stamp(Job_Group g) { return g == Job_Group::Runtime || g == Job_Group::Glue; }

}  // namespace

const Build_Spec& native_build_request() {
    static const Build_Spec request;
    return request;
}

void build_set_cross_output(Cross_Output_Proc proc) { g_cross_output.store(proc); }

std::string stamp_text(std::string_view compiler, const Cmd& flags, int64_t profile_mtime, uint64_t identity) {
    return fmt("%s|%v|%v|%016x", compiler, flags, profile_mtime, identity);
}

Rebuild_Inputs rebuild_inputs(std::string_view src, std::string_view obj, std::string page_stamp,
                              std::string runtime_stamp) {
    Rebuild_Inputs in;
    in.page_stamp = std::move(page_stamp);
    in.runtime_stamp = std::move(runtime_stamp);
    // A stamp is one short line; a larger file is no stamp of ours.
    constexpr uint64_t stamp_limit = 64 * 1024;
    in.page_file_read = fs_read(path_join({obj, "pages.stamp"}), in.page_file, nullptr, stamp_limit);
    in.runtime_file_read = fs_read(path_join({obj, "runtime.stamp"}), in.runtime_file, nullptr, stamp_limit);
    in.page_header_time = fs_mtime(path_join({src, "include", "zqr.h"}));
    in.header_time = in.page_header_time;
    std::string runtime = path_join({src, "runtime"});
    std::vector<Dir_Entry> entries;
    if (fs_list(runtime, entries)) {
        for (const Dir_Entry& e : entries) {
            if (e.is_dir || !ends_with(e.name, ".h")) continue;
            in.header_time = std::max(in.header_time, fs_mtime(path_join({runtime, e.name})));
        }
    }
    return in;
}

std::vector<Compile_Job> jobs_to_compile(const std::vector<Compile_Job>& jobs, const Rebuild_Inputs& in) {
    bool page_ok = stamp_matches(in.page_stamp, in.page_file, in.page_file_read);
    bool runtime_ok = stamp_matches(in.runtime_stamp, in.runtime_file, in.runtime_file_read);
    std::vector<Compile_Job> out;
    for (const Compile_Job& job : jobs) {
        bool runtime = uses_runtime_stamp(job.group);
        bool stamp_ok = runtime ? runtime_ok : page_ok;
        int64_t headers = job.group == Job_Group::Page ? in.page_header_time : in.header_time;
        int64_t obj_time = fs_mtime(job.obj);
        bool fresh = stamp_ok && obj_time > fs_mtime(job.src) && obj_time > headers;
        if (!fresh) out.push_back(job);
    }
    return out;
}

std::string rsp_quote(std::string_view path) {
    std::string out = "\"";
    for (char c : path) {
#ifdef _WIN32
        if (c == '\\') {
            out += '/';
            continue;
        }
#else
        if (c == '\\') {
            out += "\\\\";
            continue;
        }
#endif
        if (c == '"') out += '\\';
        out += c;
    }
    out += '"';
    return out;
}

std::string link_rsp_text(const std::vector<Compile_Job>& jobs) {
    std::string text;
    for (const Compile_Job& job : jobs) {
        text += rsp_quote(job.obj);
        text += '\n';
    }
    return text;
}

void pgo_prepare(Task& t, const Build_Spec& req, std::string_view compiler, std::string_view src) {
    set_profile_path("");
    if (!settings_copy().pgo) return;
    constexpr std::string_view off = "Profile-Guided Optimization is off for this build: %s.";
    if (!req.target) {
        if (!compiler_is_clang()) {
            logf(t, off, "Needs Clang (GCC cannot read the profile)");
            return;
        }
        if (find_lld(compiler).empty()) {
            logf(t, off, "Needs LLVM's linker (lld) beside Clang: not found");
            return;
        }
    }
    std::string candidate = path_join({src, "pgo", "efsg.profdata"});
    if (!file_exists(candidate)) {
        log_line(t, "Profile-Guided Optimization is off for this build: no profile in the bundle.");
        return;
    }
    std::string folder = data_path({"obj"});
    fs_make_dirs(folder);
    std::string probe = path_join({folder, "pgo_probe.c"});
    std::string object = path_join({folder, "pgo_probe.o"});
    int64_t code = -1;
    bool started = false;
    if (fs_write(probe, "int pgo_probe(int x) { return x + 1; }\n")) {
        Cmd cmd{std::string(compiler)};
        for (const std::string& f : spec_arch_flags(req)) cmd.push_back(f);
        for (const std::string& a : {fmt("-fprofile-instr-use=%s", candidate), std::string("-c"), probe,
                                     std::string("-o"), object})
            cmd.push_back(a);
        std::string output;
        started = child_run(t, cmd, "", Output_Mode::Quiet, &output, nullptr, 0, &code);
    }
    if (started && code == 0) {
        set_profile_path(candidate);
        logf(t, "Profile-Guided Optimization: %s", candidate);
        return;
    }
    log_line(t, "Profile-Guided Optimization is off for this build: this Clang cannot read the profile (an older "
                "version?).");
}

bool data_folder_writable(std::string& err) {
    std::string probe = data_path({"write-test.tmp"});
    if (!fs_make_dirs(data_dir(), &err)) return false;
    // A full disk creates the file and fails the write: it goes either way.
    bool written = fs_write(probe, "x", &err);
    fs_remove_file(probe);
    return written;
}

namespace {

// Writes the native game's configuration and build identity, then renames
// the linked program over the old one. When the rename fails, the old build
// identity is put back so that it describes the program that stays. False
// after logging the reason.
bool native_put_in_place(Task& t, const std::string& out_dir, const std::string& linked, const std::string& output,
                         bool aa_dlss, bool dlss) {
    if (bundle_extract(t, data_dir(), {"tools/"}) < 0) return false;
    std::string why;
    if (!cfg_write(out_dir, &why)) {
        logf(t, "Cannot write %s in %s: %s.", cfg_file_name, out_dir, why);
        return false;
    }
    if (dlss) dlss_feature(t, out_dir);
    fs_make_dirs(data_path({"cdrive"}));
    std::string id_path = path_join({out_dir, build_id_file_name});
    std::string old_id;
    bool had_id = fs_read(id_path, old_id, nullptr, 1 << 20);
    if (!build_id_write(out_dir, aa_dlss, &why)) {
        logf(t, "Cannot write %s in %s: %s.", build_id_file_name, out_dir, why);
        return false;
    }
    if (fs_rename(linked, output, &why)) return true;
    if (had_id) {
        fs_write_atomic(id_path, old_id);
    } else {
        fs_remove_file(id_path);
    }
    build_id_forget();
    logf(t, "Cannot put the new game in place as %s: %s.", output, why);
    log_line(t, "(If Quillmarsh is running, close it and Build again: Windows cannot replace a running program.)");
    return false;
}

}  // namespace

void build_task(Task& t, const Build_Spec& req) {
    // A rewrite the window asked for ends first: the build's own write of
    // the file comes after it.
    cfg_rewrite_wait();
    const bool cross = req.target != nullptr;
    const bool android = cross && req.target->android;
    Settings s = settings_copy();

    // 1. Game and compiler. Everything the build makes goes into the data
    // folder: one that cannot be written is said so first, not blamed on the
    // compiler whose probe could not be written either.
    std::string unwritable;
    if (!data_folder_writable(unwritable)) {
        return fail(t, fmt("The data folder %s cannot be written: %s.", data_dir(), unwritable));
    }
    set_status(t, 0.0f, "Checking the game");
    std::string exe = game_exe_path(s.game_dir);
    Exe_Check check = check_game_exe(exe);
    if (!check.ok) return fail(t, fmt("%s cannot be used: %s.", exe, check.reason));
    std::string compiler = cross ? req.compiler : dependency_get(Dep_Kind::Compiler).found;
    if (compiler.empty()) return fail(t, "No C compiler that can build the game: install one first.");
    logf(t, "Game: %s", s.game_dir);
    logf(t, "Compiler: %s", compiler);

    // 2. Sources.
    std::string src = data_path({"src"});
    int changed = bundle_extract(t, src, build_source_prefixes);
    if (changed < 0) return void(t.failed.store(1));
    bundle_prune(t, src, build_source_prefixes);
    if (t.cancel.load()) return;
    logf(t, "Sources: %s (%d files changed)", src, changed);

    // 3. Cross files.
    if (cross) {
        int files = bundle_extract(t, data_dir(), {fmt("cross/%s/", req.target->name)});
        if (files < 0) return void(t.failed.store(1));
        std::string needed = android ? path_join({req.sysroot, "glue", "android_native_app_glue.c"})
                                     : path_join({req.ffmpeg, "lib", "libavcodec.a"});
        if (!file_exists(needed)) return fail(t, fmt("This launcher carries no files for %s.", req.target->label));
        logf(t, "%s system files: %s (%d files changed)", req.target->label, req.sysroot, files);
    }

    // 4. Profile-guided optimisation.
    pgo_prepare(t, req, compiler, src);

    // 5. Flags and the FFmpeg folder.
    Job_Flags flags;
    flags.page = page_flags(req, src);
    std::string ffmpeg_dir = req.ffmpeg;
    std::string own_ffmpeg;
    if (!cross) {
        ffmpeg_dir = path_join({src, "ffmpeg"});
        std::string own = data_path({"ffmpeg"});
        if (file_exists(path_join({own, "lib", "libavcodec.a"}))) {
            ffmpeg_dir = own;
            own_ffmpeg = own;
            logf(t, "FFmpeg: your own build in %s", own);
        }
    }

    // 6. FSR 4 (Windows files: a native Linux build goes without).
    if (!cross && s.aa_fsr4 && !upscaler_dlls_native) {
        log_line(t, "FSR 4: Windows only, not in this build.");
    } else if (!cross && s.aa_fsr4) {
        if (fsr4_fetch(t)) {
            logf(t, "FSR 4: AMD FidelityFX SDK %s DLLs in %s (AMD's license: license.md there)", fsr4_version,
                 fsr4_dir());
        } else {
            log_line(t, "FSR 4: AMD's files could not be fetched: FSR 3.1 instead -- Build again to retry.");
        }
    }

    // 7. DLSS.
    bool have_lld = !find_lld(compiler).empty();
    if (!cross && s.aa_dlss && !upscaler_dlls_native) log_line(t, "DLSS: Windows only, not in this build.");
    bool dlss = s.aa_dlss && (cross || upscaler_dlls_native) && dlss_fetch(t, cross, have_lld);
    Cmd dlss_compile = dlss ? dlss_compile_flags() : Cmd{};
    Cmd dlss_link = dlss ? dlss_link_flags() : Cmd{};
    flags.runtime = runtime_flags(req, src, own_ffmpeg, dlss_compile);
    flags.match = match_flags(req, src);
    if (android) {
        flags.glue = flags.runtime;
        flags.glue.emplace_back("-fvisibility=default");
    }

    // 8. Options and LTO.
    logf(t, "Options: %v", runtime_option_flags(req));
    if (s.lto && !cross && compiler_is_clang() && !have_lld) {
        log_line(t, "Link-Time Optimization is off for this build: Clang's needs LLVM's linker (ld.lld) beside it, "
                    "and there is none.");
    }

    // 9. Jobs.
    std::string obj = cross ? req.obj_dir : data_path({"obj"});
    std::string out_dir = cross ? req.out_dir : exe_dir();
    fs_make_dirs(obj);
    fs_make_dirs(out_dir);
    std::string glue = android ? path_join({req.sysroot, "glue", "android_native_app_glue.c"}) : std::string();
    std::vector<Compile_Job> jobs = compile_job_list(src, obj, flags, glue);
    std::string clash;
    if (!compile_jobs_unique(jobs, clash)) return fail(t, clash);

    // 10. Rebuild rule.
    std::string profile = profile_path();
    int64_t profile_time = profile.empty() ? 0 : fs_mtime(profile);
    uint64_t identity = bundle_identity();
    std::string page_stamp = stamp_text(compiler, flags.page, profile_time, identity);
    std::string runtime_stamp = stamp_text(compiler, flags.runtime, profile_time, identity);
    Compile_Pool pool;
    pool.task = &t;
    pool.compiler = compiler;
    pool.jobs = jobs_to_compile(jobs, rebuild_inputs(src, obj, page_stamp, runtime_stamp));
    // Longest first, from the times of the builds before (none the first time).
    std::string times_path = path_join({obj, std::string(compile_times_name)});
    std::string old_times;
    fs_read(times_path, old_times);
    order_longest_first(pool.jobs, old_times);

    // 11. Compile.
    for (const char* name : {"pages.stamp", "runtime.stamp", "build.stamp"}) fs_remove_file(path_join({obj, name}));
    int cores = cpu_count();
    logf(t, "Compiling %d of %d files on %d cores", pool.jobs.size(), jobs.size(), cores);
    bool compiled = compile_pool_run(pool, cores);
    fs_write(times_path, compile_times_text(old_times, pool));
    if (t.cancel.load()) return;
    if (!compiled) return void(t.failed.store(1));
    fs_write(path_join({obj, "pages.stamp"}), page_stamp);
    fs_write(path_join({obj, "runtime.stamp"}), runtime_stamp);

    // 12. Link.
    set_status(t, 0.92f, "Linking");
    std::string output;
    if (android) {
        output = path_join({obj, "libmain.so"});
    } else if (cross) {
        output = path_join({s.cross_appimage ? obj : out_dir, "Quillmarsh"});
    } else {
        output = path_join({out_dir, built_exe_name});
    }
    std::string rsp = path_join({obj, "link.rsp"});
    if (!fs_write(rsp, link_rsp_text(jobs))) return fail(t, fmt("Cannot write %s.", rsp));
    // A program in the output folder is linked under a temporary name beside
    // it and put in place only once whole: a linker that fails, is stopped or
    // finds the disk full never takes the working game with it.
    bool in_place = !android && !(cross && s.cross_appimage);
    std::string linked = in_place ? fs_new_temp_name(output) : output;
    Cmd link = link_command(req, compiler, src, ffmpeg_dir, linked, rsp, dlss_link);
    int64_t code = -1;
    bool started = child_run(t, link, "", Output_Mode::Log, nullptr, nullptr, 0, &code);
    if (t.cancel.load() || !started || code != 0) {
        if (in_place) fs_remove_file(linked);
        if (t.cancel.load()) return;
        // 13. Link failure.
        log_line(t, "Linking failed.");
        return void(t.failed.store(1));
    }

    // 14. The game for this computer: its configuration and build identity
    // are written before the new program takes the old one's place, and put
    // back when it cannot.
    if (!cross) {
        if (!native_put_in_place(t, out_dir, linked, output, s.aa_dlss, dlss)) {
            fs_remove_file(linked);
            return void(t.failed.store(1));
        }
        logf(t, "Built %s", output);
        set_status(t, 1.0f, "Built");
        return;
    }
    std::string why;
    if (in_place && !fs_rename(linked, output, &why)) {
        fs_remove_file(linked);
        return fail(t, fmt("Cannot put the program in place as %s: %s.", output, why));
    }

    // 15. Cross output.
    Cross_Output_Proc write_output = g_cross_output.load();
    std::string package;
    bool appimage = !android && s.cross_appimage;
    if (!write_output || !write_output(t, *req.target, out_dir, output, appimage, package))
        return fail(t, fmt("Cannot write the output in %s.", out_dir));
    std::string readme = path_join({out_dir, "README.txt"});
    if (appimage) {
        logf(t, "Built %s: copy it to the %s computer with %s (it says how).", path_join({out_dir, package}),
             req.target->label, readme);
    } else if (android) {
        logf(t, "Built %s: install it on the %s device; %s says how, and where the game's files go.",
             path_join({out_dir, package}), req.target->label, readme);
    } else {
        logf(t, "Built %s: copy the folder %s to the %s computer (its README.txt says how).", output, out_dir,
             req.target->label);
    }
    set_status(t, 1.0f, "Built");
}

void cli_task_build(Task& t) { build_task(t, native_build_request()); }
