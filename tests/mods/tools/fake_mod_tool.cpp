// A stand-in for the mods' own Windows programs. Copied under a tool's name
// (e.g. "SupportFiles/efsgtool.exe"), it appends its working folder and
// arguments to "<own path>.calls" and plays the scenario in
// "<own path>.scenario", one step a line:
//   banner TEXT      prints TEXT and a line break
//   write FILE TEXT  writes TEXT into FILE (relative to the working folder)
//   spew N           prints N bytes of text in lines of 100
//   hang MS          waits MS milliseconds
//   exit N           ends with code N (the end of the scenario ends with 0)
//   act              does the tool's own work (see "The HD Project's tools")
//   cut              halves the archive the last "act" wrote
//   on ARG STEP      plays STEP only when one argument equals ARG ("-": the
//                    run has no arguments)
// The steps of the HD Models+ models tool (see model_tool_step) follow the
// same form.
// Run with a first argument that names a ".exe" file, it acts as the runner
// of that file (as wine would): the file's path is its own path, and the
// arguments after it are the tool's.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "engine/kt_system/fs.h"
#include "launcher/core/format.h"
#include "launcher/core/parse_int.h"
#include "launcher/mods/filelist.h"
#include "tests/mods/filelist_fixture.h"

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

// ---- The HD Project's tools ----
// Under the name "efsgtool.exe", "act" reads and writes the game's archive
// pairs (a file list and its archive, members stored unpacked at 2048-byte
// positions):
//   -x -efsg LIST ARCHIVE   unpacks every member into ARCHIVE less ".win32.bin"
//   -i LIST ARCHIVE MEMBER  appends the file MEMBER to ARCHIVE and points its line there
//   -c LIST FOLDER          packs FOLDER into FOLDER.win32.bin and a new LIST
// Under "EFSAGA_HDProject.exe" it copies each file of the argument starting
// "models\orig\" into the one starting "models\mod\" with "HD " in front;
// under "EFSAGA_ModelsHD.exe" it does the same for each "FROM TO" line of the
// list file it is given. Paths are relative to the working folder, with
// backslashes. A failure ends the run with code 2.

std::string slashed(std::string path) {
    for (char& c : path) c = c == '\\' ? '/' : c;
    return path;
}

std::string lower(std::string text) {
    for (char& c : text) c = char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return text;
}

std::string base_name(const std::string& path) {
    size_t at = slashed(path).rfind('/');
    return at == std::string::npos ? path : path.substr(at + 1);
}

bool pair_read(const std::string& list_path, std::string& bytes, Filelist& list) {
    return fs_read(list_path, bytes) && filelist_read(bytes, list);
}

int efsg_unpack(const std::string& list_path, const std::string& archive_path) {
    std::string bytes;
    Filelist list;
    Game_Archive archive;
    if (!pair_read(list_path, bytes, list) || !game_archive_open(archive_path, archive)) return 2;
    std::string folder = archive_path.substr(0, archive_path.size() - std::string(".win32.bin").size());
    for (const Filelist_Entry& e : list.entries) {
        std::vector<std::string_view> fields = split_at(e.text, ':');
        std::string member;
        if (fields.size() < 4 || !archive_entry(archive, fields, member)) return 2;
        std::string name = slashed(std::string(fields[3]));
        if (name.find("..") != std::string::npos || name.starts_with("/")) return 2;
        std::string target = folder + "/" + name;
        fs_make_dirs(target.substr(0, target.rfind('/')));
        if (!fs_write(target, member)) return 2;
    }
    std::printf("unpacked %zu files\n", list.entries.size());
    return 0;
}

int efsg_put(const std::string& list_path, const std::string& archive_path, const std::string& member) {
    std::string bytes, data, archive;
    Filelist list;
    if (!pair_read(list_path, bytes, list) || !fs_read(slashed(member), data) || !fs_read(archive_path, archive))
        return 2;
    archive.resize((archive.size() + 2047) / 2048 * 2048, '\0');
    uint64_t position = archive.size() / 2048;
    bool found = false;
    for (Filelist_Entry& e : list.entries) {
        std::vector<std::string_view> fields = split_at(e.text, ':');
        if (fields.size() < 4 || lower(slashed(std::string(fields[3]))) != lower(slashed(member))) continue;
        e.text = fmt("%x:%x:%x:%s", position, int64_t(data.size()), int64_t(data.size()), std::string(fields[3]));
        e.changed = found = true;
    }
    if (!found) {
        std::printf("%s is not in %s\n", member.c_str(), list_path.c_str());
        return 3;
    }
    std::string written;
    if (!filelist_write(list, written) || !fs_write(archive_path, archive + data) || !fs_write(list_path, written))
        return 2;
    return 0;
}

void files_below(const std::string& dir, const std::string& prefix, std::vector<std::string>& out) {
    std::vector<Dir_Entry> entries;
    fs_list(dir, entries);
    std::sort(entries.begin(), entries.end(), [](const Dir_Entry& a, const Dir_Entry& b) { return a.name < b.name; });
    for (const Dir_Entry& e : entries) {
        if (e.is_dir) files_below(dir + "/" + e.name, prefix + e.name + "/", out);
        else out.push_back(prefix + e.name);
    }
}

int efsg_pack(const std::string& list_path, const std::string& folder) {
    std::vector<std::string> names;
    files_below(folder, "", names);
    std::string archive, lines;
    std::vector<Fixture_Entry> entries;
    for (const std::string& n : names) {
        std::string data;
        if (!fs_read(folder + "/" + n, data)) return 2;
        archive.resize((archive.size() + 2047) / 2048 * 2048, '\0');
        entries.push_back({0, 0, uint32_t(lines.size())});
        lines += fmt("%x:%x:%x:%s", int64_t(archive.size() / 2048), int64_t(data.size()), int64_t(data.size()), n);
        lines.push_back('\0');
        archive += data;
    }
    if (!fs_write(folder + ".win32.bin", archive) || !fs_write(list_path, fixture_list({lines}, entries))) return 2;
    return 0;
}

bool copy_marked(const std::string& from, const std::string& to) {
    std::string data;
    if (!fs_read(from, data)) return false;
    fs_make_dirs(to.substr(0, to.rfind('/')));
    return fs_write(to, "HD " + data);
}

// The archive a run of efsgtool wrote, for "cut".
std::string written_archive(const std::vector<std::string>& args) {
    if (args.size() == 4 && args[0] == "-i") return slashed(args[2]);
    if (args.size() == 3 && args[0] == "-c") return slashed(args[2]) + ".win32.bin";
    return "";
}

int act(const std::string& self, const std::vector<std::string>& args) {
    std::string tool = lower(base_name(self));
    if (tool == "efsgtool.exe") {
        if (args.size() == 4 && args[0] == "-x" && args[1] == "-efsg") return efsg_unpack(slashed(args[2]), slashed(args[3]));
        if (args.size() == 4 && args[0] == "-i") return efsg_put(slashed(args[1]), slashed(args[2]), args[3]);
        if (args.size() == 3 && args[0] == "-c") return efsg_pack(slashed(args[1]), slashed(args[2]));
        return 2;
    }
    if (tool == "efsaga_hdproject.exe") {
        std::string orig, mod;
        for (const std::string& a : args) {
            if (a.starts_with("models\\orig\\")) orig = slashed(a);
            if (a.starts_with("models\\mod\\")) mod = slashed(a);
        }
        std::vector<Dir_Entry> entries;
        if (orig.empty() || mod.empty() || !fs_list(orig, entries)) return 2;
        for (const Dir_Entry& e : entries)
            if (!e.is_dir && !copy_marked(orig + e.name, mod + e.name)) return 2;
        return 0;
    }
    if (tool == "efsaga_modelshd.exe") {
        std::string text;
        if (args.size() != 1 || !fs_read(slashed(args[0]), text)) return 2;
        for (std::string_view line : split_at(text, '\n')) {
            std::vector<std::string_view> pair = split_at(line, ' ');
            if (pair.size() == 2 && !copy_marked(slashed(std::string(pair[0])), slashed(std::string(pair[1])))) return 2;
        }
        return 0;
    }
    return 2;
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
        if (verb == "on") {
            size_t b = rest.find(' ');
            std::string when = rest.substr(0, b);
            bool match = when == "-" ? args.empty() : std::find(args.begin(), args.end(), when) != args.end();
            if (!match || b == std::string::npos) continue;
            rest = rest.substr(b + 1);
            blank = rest.find(' ');
            verb = rest.substr(0, blank);
            rest = blank == std::string::npos ? "" : rest.substr(blank + 1);
        }
        if (verb == "act") {
            std::fflush(stdout);
            int code = act(self, args);
            if (code != 0) return code;
            continue;
        }
        if (verb == "cut") {
            std::string archive = written_archive(args), data;
            if (fs_read(archive, data)) fs_write(archive, data.substr(0, data.size() / 2));
            continue;
        }
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
