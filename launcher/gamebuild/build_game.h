// The game build: turns the unpacked bundle sources into the game beside the
// launcher (or into a cross build handed to the cross output step), reporting
// only through the task record.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "launcher/gamebuild/compile_jobs.h"
#include "launcher/gamebuild/cross_target.h"

struct Task;

// The bundle folders unpacked into "src", in this order.
extern const std::vector<std::string> build_source_prefixes;

// The request for this computer (every field empty), shared by its callers.
const Build_Spec& native_build_request();

// The whole build. Ends with the failed flag set, or with "Built" at 1.0.
void build_task(Task& t, const Build_Spec& req);
// Whether a file can be made in the data folder; `err` says why not.
bool data_folder_writable(std::string& err);
// The procedure of the task "Build" for this computer (the Build and Run
// buttons, "--build").
void cli_task_build(Task& t);

// Profile-guided optimisation: clears the profile path, then sets it to
// src/pgo/efsg.profdata when the setting is on, the toolchain can use it and
// a probe compile with it succeeds; logs why not otherwise.
void pgo_prepare(Task& t, const Build_Spec& req, std::string_view compiler, std::string_view src);

// One stamp line: the compiler, the group's flags, the profile's time and the
// bundle identity (objects of another launcher's sources are never reused).
std::string stamp_text(std::string_view compiler, const Cmd& flags, int64_t profile_mtime, uint64_t identity);

// What the rebuild rule compares with.
struct Rebuild_Inputs {
    std::string page_stamp, runtime_stamp;   // the texts of this build
    std::string page_file, runtime_file;     // the stamp files' contents
    bool page_file_read = false, runtime_file_read = false;
    int64_t page_header_time = 0;            // include/zqr.h
    int64_t header_time = 0;                 // that and every runtime/*.h
};
Rebuild_Inputs rebuild_inputs(std::string_view src, std::string_view obj, std::string page_stamp,
                              std::string runtime_stamp);
// The jobs that must be compiled, in their order.
std::vector<Compile_Job> jobs_to_compile(const std::vector<Compile_Job>& jobs, const Rebuild_Inputs& in);

// A path as one quoted argument of a response file, for the compiler
// driver's rules: inside double quotes a backslash escapes the next
// character. Windows paths have their "\" turned into "/"; elsewhere a
// backslash is part of the name and is escaped, as is a double quote.
std::string rsp_quote(std::string_view path);
// "link.rsp": every object of `jobs`, one quoted path a line.
std::string link_rsp_text(const std::vector<Compile_Job>& jobs);

// The cross output step (the cross-compile folders, AppImage or APK), set
// by the code that writes them; a cross build fails without it. `out_name`
// gets the name of the package written into `out_dir`.
using Cross_Output_Proc = bool (*)(Task& t, const Cross_Target& target, std::string_view out_dir,
                                   std::string_view linked, bool appimage, std::string& out_name);
void build_set_cross_output(Cross_Output_Proc proc);
