#include "launcher/mods/mod_tools.h"

#include <algorithm>

#include "engine/kt_system/clock.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/core/child_run.h"
#include "launcher/core/task.h"

namespace {

constexpr int64_t tool_limit_ns = 1800000000000;   // 30 minutes

char lower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

bool ends_with(std::string_view s, std::string_view suffix) {
    return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

// Copies a file to `to` through a temporary name beside it, so that a link
// at the target is replaced rather than written through and a failed copy
// leaves the old target whole.
bool copy_file_safely(std::string_view from, std::string_view to) {
    std::string part(to);
    part += ".part";
    if (!fs_copy_file(from, part)) {
        fs_remove_file(part);
        return false;
    }
    if (fs_rename(part, to)) return true;
    fs_remove_file(part);
    return false;
}

std::string joined(std::string_view dir, std::string_view name) { return path_join({dir, name}); }

// Makes the folder that holds `file`; a bare name lies in the current folder.
bool make_parent(std::string_view file) {
    std::string dir = path_dir(file);
    return ensure_dir(dir.empty() ? std::string_view(".") : std::string_view(dir));
}

}  // namespace

void hd_log_text(Hd_Tool& ctx, std::string_view text) {
    if (!ctx.log) return;
    std::fwrite(text.data(), 1, text.size(), ctx.log);
    std::fputc('\n', ctx.log);
    std::fflush(ctx.log);
}

bool hd_tool(Hd_Tool& ctx, std::string_view tool, const std::vector<std::string>& args, std::string_view cwd,
             int64_t* exit_code) {
    std::string program = find_ci(find_ci(ctx.work_dir, "SupportFiles"), tool);
    std::string folder(cwd.empty() ? std::string_view(ctx.work_dir) : cwd);
    std::vector<std::string> command{program};
    command.insert(command.end(), args.begin(), args.end());
    std::string output, shown_args;
    for (const std::string& a : args) shown_args += (shown_args.empty() ? "" : " ") + a;
    int64_t code = -1;
    bool ran = ctx.task && child_run(*ctx.task, command, folder, Output_Mode::Quiet, &output, nullptr, tool_limit_ns, &code);
    hd_log(ctx, "> %s %s  [%s]\n%s(exit %d)", tool, shown_args, folder, output, code);
    if (!ran) {
        if (ctx.task) logf(*ctx.task, "Cannot run %s.", tool);
        ctx.failed = true;
    }
    if (exit_code) *exit_code = code;
    return ran;
}

bool hd_tool_import(Hd_Tool& ctx, std::string_view list, std::string_view data, std::string_view member,
                    std::string_view cwd, int64_t* exit_code) {
    return hd_tool(ctx, "efsgtool.exe", {"-i", std::string(list), std::string(data), std::string(member)}, cwd,
                   exit_code);
}

bool copy_into(Hd_Tool& ctx, std::string_view from, std::string_view to) {
    if (make_parent(to) && copy_file_safely(from, to)) return true;
    if (ctx.task) logf(*ctx.task, "Cannot copy %s to %s (is there room?).", from, to);
    ctx.failed = true;
    return false;
}

bool move_into(Hd_Tool& ctx, std::string_view from, std::string_view to) {
    make_parent(to);
    // The rename replaces an existing target in one step.
    if (fs_rename(from, to)) return true;
    if (!copy_into(ctx, from, to)) return false;
    fs_remove_file(from);
    return true;
}

bool copy_tree_suffix(Hd_Tool& ctx, std::string_view from, std::string_view to,
                      const std::vector<std::string>& suffixes) {
    std::vector<Dir_Entry> entries;
    if (!fs_list(from, entries)) return true;
    for (const Dir_Entry& e : entries) {
        if (e.is_link) continue;   // walks never follow links
        if (e.is_dir) {
            if (!copy_tree_suffix(ctx, joined(from, e.name), joined(to, e.name), suffixes)) return false;
            continue;
        }
        std::string low = ascii_lower(e.name);
        bool wanted = std::any_of(suffixes.begin(), suffixes.end(), [&](const std::string& s) { return ends_with(low, s); });
        if (wanted && !copy_into(ctx, joined(from, e.name), joined(to, e.name))) return false;
    }
    return true;
}

bool copy_tree_changed(Task& t, std::string_view from, std::string_view to) {
    std::vector<Dir_Entry> entries;
    if (!fs_list(from, entries)) {
        logf(t, "Cannot read %s.", from);
        return false;
    }
    for (const Dir_Entry& e : entries) {
        if (e.is_link) continue;
        std::string source = joined(from, e.name), target = joined(to, e.name);
        if (e.is_dir) {
            ensure_dir(target);
            if (!copy_tree_changed(t, source, target)) return false;
            continue;
        }
        // A re-imported file of the same size differs in its time: the
        // copy takes the source's time, so an unchanged file matches both.
        File_Info info;
        if (fs_stat(target, info) && !info.is_dir && info.size == e.size && info.mtime_ns == e.mtime_ns) continue;
        if (!ensure_dir(to) || !copy_file_safely(source, target)) {
            logf(t, "Cannot copy %s (is there room?).", source);
            return false;
        }
        fs_set_mtime(target, e.mtime_ns);
    }
    return true;
}

void mirror_dirs(std::string_view from, std::string_view to) {
    ensure_dir(to);
    std::vector<Dir_Entry> entries;
    if (!fs_list(from, entries)) return;
    for (const Dir_Entry& e : entries) {
        if (e.is_dir && !e.is_link) mirror_dirs(joined(from, e.name), joined(to, e.name));
    }
}

void delete_tree_files(std::string_view dir) {
    std::vector<Dir_Entry> entries;
    if (!fs_list(dir, entries)) return;
    for (const Dir_Entry& e : entries) {
        std::string path = joined(dir, e.name);
        if (e.is_dir && !e.is_link) delete_tree_files(path);
        else fs_remove_file(path);   // a link goes itself, never what it points to
    }
}

std::vector<std::string> subdirs(std::string_view dir) {
    std::vector<std::string> out;
    std::vector<Dir_Entry> entries;
    if (!fs_list(dir, entries)) return out;
    for (const Dir_Entry& e : entries) {
        if (e.is_dir && !e.is_link) out.push_back(e.name);
    }
    std::sort(out.begin(), out.end(), [](const std::string& a, const std::string& b) { return name_less_ci(a, b); });
    return out;
}

bool name_less_ci(std::string_view a, std::string_view b) {
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        unsigned char x = static_cast<unsigned char>(lower(a[i])), y = static_cast<unsigned char>(lower(b[i]));
        if (x != y) return x < y;
    }
    return a.size() < b.size();
}

bool name_less_ci2(std::string_view a, std::string_view b) { return name_less_ci(a, b); }

std::string to_backslashes(std::string_view path) {
    std::string out(path);
    std::replace(out.begin(), out.end(), '/', '\\');
    return out;
}

bool disk_free(std::string_view path, uint64_t& bytes) {
    if (fs_free_space(path.empty() ? std::string_view(".") : path, bytes)) return true;
    bytes = 0;
    return false;
}

bool ensure_dir(std::string_view path) { return !path.empty() && fs_make_dirs(path); }

std::string find_ci(std::string_view dir, std::string_view name) {
    std::string exact = joined(dir, name);
    File_Info info;
    if (fs_stat(exact, info)) return exact;
    std::vector<Dir_Entry> entries;
    if (fs_list(dir, entries)) {
        std::string want = ascii_lower(name);
        for (const Dir_Entry& e : entries) {
            if (ascii_lower(e.name) == want) return joined(dir, e.name);
        }
    }
    return exact;
}
