// A stand-in for the mods' own Windows programs. Copied under a tool's name
// (e.g. "SupportFiles/efsgtool.exe"), it appends its working folder and
// arguments to "<own path>.calls" and plays the scenario in
// "<own path>.scenario", one step a line:
//   banner TEXT      prints TEXT and a line break
//   write FILE TEXT  writes TEXT into FILE (relative to the working folder)
//   spew N           prints N bytes of text in lines of 100
//   hang MS          waits MS milliseconds
//   exit N           ends with code N (the end of the scenario ends with 0)
// The steps of the HD Models+ models tool (see model_tool_step) follow the
// same form.
// Run with a first argument that names a ".exe" file, it acts as the runner
// of that file (as wine would): the file's path is its own path, and the
// arguments after it are the tool's.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "engine/kt_system/fs.h"

namespace {

bool names_exe(const std::string& s) {
    if (s.size() < 4) return false;
    std::string tail = s.substr(s.size() - 4);
    for (char& c : tail) c = char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return tail == ".exe";
}

void append_to(const std::string& path, const std::string& text) {
    std::string old;
    fs_read(path, old);
    fs_write(path, old + text);
}

// --- The HD Models+ models tool -------------------------------------------
//   input            appends its first argument (a path below the working
//                    folder with "\" separators), a line break, that file's
//                    bytes and "\n--\n" to "<own path>.inputs"
//   models ID...     writes models/mod/chr/pc/ID/bin/ID.win32.trb and
//                    .imgb of each ID (folders made), each holding
//                    "ID.win32<ext> from <first argument>"
//   seen FILE        appends "seen FILE yes" or "seen FILE no" to the calls
// False when the verb is not one of these.
bool model_tool_step(const std::string& verb, const std::string& rest, const std::string& self,
                     const std::vector<std::string>& args) {
    std::string first = args.empty() ? "" : args[0];
    if (verb == "input") {
        std::string path = first, bytes;
        for (char& c : path) c = c == '\\' ? '/' : c;
        fs_read(path, bytes);
        append_to(self + ".inputs", first + "\n" + bytes + "\n--\n");
        return true;
    }
    if (verb == "models") {
        size_t at = 0;
        while (at < rest.size()) {
            size_t end = rest.find(' ', at);
            if (end == std::string::npos) end = rest.size();
            std::string id = rest.substr(at, end - at);
            at = end + 1;
            if (id.empty()) continue;
            std::string dir = "models/mod/chr/pc/" + id + "/bin";
            std::filesystem::create_directories(dir);
            for (const char* ext : {".trb", ".imgb"})
                fs_write(dir + "/" + id + ".win32" + ext, id + ".win32" + ext + " from " + first);
        }
        return true;
    }
    if (verb == "seen") {
        append_to(self + ".calls", "seen " + rest + (std::filesystem::exists(rest) ? " yes\n" : " no\n"));
        return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string self = argv[0];
    if (!args.empty() && names_exe(args[0]) && names_exe(args[0]) != names_exe(self)) {
        self = args[0];
        args.erase(args.begin());
    }
    std::string calls = "cwd=" + std::filesystem::current_path().string() + "\n";
    for (const std::string& a : args) calls += "arg=" + a + "\n";
    append_to(self + ".calls", calls + "--\n");

    std::string scenario;
    fs_read(self + ".scenario", scenario);
    size_t at = 0;
    while (at < scenario.size()) {
        size_t end = scenario.find('\n', at);
        if (end == std::string::npos) end = scenario.size();
        std::string line = scenario.substr(at, end - at);
        at = end + 1;
        size_t blank = line.find(' ');
        std::string verb = line.substr(0, blank), rest = blank == std::string::npos ? "" : line.substr(blank + 1);
        if (model_tool_step(verb, rest, self, args)) {
        } else if (verb == "banner") {
            std::printf("%s\n", rest.c_str());
        } else if (verb == "write") {
            size_t b = rest.find(' ');
            fs_write(rest.substr(0, b), b == std::string::npos ? "" : rest.substr(b + 1));
        } else if (verb == "spew") {
            // One write: a pipe under wine is slow with many small ones.
            std::string lines;
            for (long long i = 0, n = std::stoll(rest); i < n; i += 100) lines += std::string(99, 'o') + "\n";
            std::fwrite(lines.data(), 1, lines.size(), stdout);
        } else if (verb == "hang") {
            std::fflush(stdout);
            std::this_thread::sleep_for(std::chrono::milliseconds(std::stoll(rest)));
        } else if (verb == "exit") {
            std::fflush(stdout);
            return std::stoi(rest);
        }
    }
    return 0;
}
