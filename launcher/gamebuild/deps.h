// The toolchain and FFmpeg on this computer: every C compiler that really
// builds and runs a program of the game's kind (only Clang is kept), the
// chosen one, an FFmpeg with the H.264 and AAC encoders, and the command that
// installs what is missing.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "launcher/gamebuild/options.h"
#include "launcher/core/task.h"

enum class Dep_Kind : uint64_t { Compiler = 0, FFmpeg = 1, Wine = 2 };
inline constexpr int dep_kind_count = 3;

struct Compiler {
    std::string path;
    bool clang = false;
    std::string label;
};

struct Dependency {
    std::string name;
    std::string role;
    std::string found;
    std::string status;
    bool ok = false;
    bool reserved = false;      // further flags, written false
    Cmd install;                // program first; empty when nothing is offered
    std::string install_label;
    bool elevate = false;       // run the install with administrator rights
};

// The whole discovery; never fails the task. Ends with the step
// "Checked what is installed".
void deps_check_task(Task& t);
// The task procedure of an install; the task's data is the Dep_Kind index.
void deps_install_task(Task& t);

// Copies taken under the dependency lock.
std::vector<Compiler> compilers_get();
Dependency dependency_get(Dep_Kind kind);
// Set at the end of every discovery run.
bool compilers_probed();

// Chooses the compiler: the listed one equal to the saved setting, else the
// first listed (the setting then follows, and settings.txt is written: at
// once, or by the window's writer with `save_later`, save_settings_later).
void choose_compiler(bool save_later = false);
// The saved compiler is Clang: the flag of the listed compiler with that
// path, else whether the lower-cased path holds "clang".
bool compiler_is_clang();
// The label of the listed compiler with that path, else the path.
std::string compiler_label(std::string_view path);

// The candidates, in order, each once (compared lower-cased).
std::vector<std::string> compiler_candidates();
// Builds and runs the probe program with `compiler`. True when it printed
// "ok 4"; otherwise `reason` says why. Each program it runs (the build, the
// probe program, "--version") is stopped after probe_time_limit_s seconds:
// a compiler that never answers is reported as such and does not hold up
// the check.
bool probe_compiler(Task& t, std::string_view compiler, std::string& reason);
inline constexpr int64_t probe_time_limit_s = 120;
// Test seam: the limit in milliseconds (0 = probe_time_limit_s).
void probe_set_time_limit_ms(int64_t ms);
// The probe program's text.
extern const char probe_source[];

// The FFmpeg candidates, in order.
std::vector<std::string> ffmpeg_candidates();
// The FFmpeg entry after running the candidates with "-hide_banner -encoders".
Dependency check_ffmpeg(Task& t, const std::vector<std::string>& candidates);

// The two winget packages (LLVM-MinGW, UCRT build; an FFmpeg with libx264).
extern const char llvm_mingw_package[];
extern const char ffmpeg_package[];

// Test seam: replaces one entry under the lock (the install task reads it).
void dependency_set(Dep_Kind kind, const Dependency& d);
