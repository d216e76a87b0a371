// The ZIP reader on any bytes: the archive is written into a folder of this
// process, listed, and each member (up to 16 MiB unpacked) is unpacked
// through the checked extraction site into a folder two levels below. After
// each input nothing may be there but the archive and that folder's tree.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "engine/kt_system/env.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/archive/zip.h"

namespace {

std::string root_folder() {
    // A memory-backed folder where there is one: each input makes and
    // deletes files, and a disk makes that the slow part.
    std::string base = fs_is_dir("/dev/shm") ? "/dev/shm" : env_get("TMPDIR");
    if (base.empty()) base = "/tmp";
    std::string root = path_join({base, "qm-fuzz-zip-" + std::to_string(getpid())});
    fs_remove_tree(root);
    if (!fs_make_dirs(root)) std::abort();
    zip_set_pause_hook([](int64_t) {});
    static std::string removed = root;
    std::atexit([] { fs_remove_tree(removed); });
    return root;
}

// The folder holds exactly the one entry `name`.
void only(const std::string& folder, std::string_view name) {
    std::vector<Dir_Entry> entries;
    if (!fs_list(folder, entries)) std::abort();
    for (const Dir_Entry& e : entries) {
        if (e.name != name && e.name != "in.zip") {
            std::fprintf(stderr, "written outside the target: %s in %s\n", e.name.c_str(), folder.c_str());
            std::abort();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string root = root_folder();
    static const std::string archive_path = path_join({root, "in.zip"});
    static const std::string outer = path_join({root, "a"}), inner = path_join({outer, "b"});
    static const std::string target = path_join({inner, "out"});
    if (!fs_write(archive_path, std::string_view(reinterpret_cast<const char*>(data), size))) std::abort();
    if (!fs_make_dirs(target)) std::abort();
    {
        Zip_Archive a;
        if (zip_open(a, archive_path)) {
            std::vector<Zip_Entry> entries;
            zip_entries(a, entries);   // a damaged directory still leaves the records before the fault
            size_t tried = 0;
            for (const Zip_Entry& e : entries) {
                if (++tried > 64) break;
                if (e.unpacked > (int64_t(16) << 20)) continue;
                std::string path;
                zip_extract_into(a, e, target, nullptr, &path);
                if (!path.empty()) member_on_disk(e, path, nullptr);
            }
        }
    }
    only(root, "a");
    only(outer, "b");
    only(inner, "out");
    fs_remove_tree(target);
    return 0;
}
