#include "launcher/core/leftovers.h"

#include "engine/kt_system/child.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"

namespace {

bool ends_with(std::string_view s, std::string_view tail) {
    return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

bool old_enough(const Dir_Entry& e, int64_t now_ns) { return now_ns - e.mtime_ns >= leftover_age_ns; }

}  // namespace

int leftovers_remove(const std::vector<std::string>& files, const std::string& data_dir, int64_t now_ns) {
    int removed = 0;
    uint64_t own = process_own_id();
    for (const std::string& file : files) {
        std::string dir = path_dir(file);
        std::string name = path_base(file);
        std::vector<Dir_Entry> list;
        if (!fs_list(dir, list)) continue;
        for (const Dir_Entry& e : list) {
            uint64_t pid = 0;
            if (e.is_dir || !fs_is_temp_name_of(e.name, name, &pid)) continue;
            if (pid != own && process_running(pid)) continue;
            if (fs_remove_file(path_join({dir, e.name}))) ++removed;
        }
    }
    std::vector<Dir_Entry> list;
    if (!fs_list(data_dir, list)) return removed;
    for (const Dir_Entry& e : list) {
        if (!e.is_dir && !e.is_link && e.name == "write-test.tmp" && old_enough(e, now_ns)) {
            if (fs_remove_file(path_join({data_dir, e.name}))) ++removed;
        }
        if (!e.is_dir || (e.name != "obj" && e.name.rfind("obj-", 0) != 0)) continue;
        std::string obj = path_join({data_dir, e.name});
        std::vector<Dir_Entry> objects;
        if (!fs_list(obj, objects)) continue;
        for (const Dir_Entry& o : objects) {
            if (o.is_dir || !ends_with(o.name, ".o.tmp") || !old_enough(o, now_ns)) continue;
            if (fs_remove_file(path_join({obj, o.name}))) ++removed;
        }
    }
    return removed;
}
