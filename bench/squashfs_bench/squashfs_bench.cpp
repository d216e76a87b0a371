// Our SquashFS writer against mksquashfs making the same uncompressed image
// (-noI -noD -noF -noX -no-xattrs) of the same tree: the unpacked stand-in
// sources at the real bundle's shape (bench/common/bench_tree.h). Each reads
// the files from disk and writes the image to disk, ours two ways:
//   - streamed, as the AppImage packer does: the layout from the file sizes
//     (squashfs_layout), then the head, each file copied from its own file
//     (copy_file_range where the kernel offers it) and the tail, written in
//     turn (squashfs_stream);
//   - in memory, as the tests' writer does: every file read whole, the image
//     built whole (squashfs_write), then written.
// Each form is a process of its own (this program again, with --form), as
// mksquashfs is: the three run in turn `--runs` times, each ratio is of one
// pair run together, given as min / median / max, and the peak memory is
// each process's maximum resident size (from /usr/bin/time). The images
// are then listed by unsquashfs and must hold the same files, and ours must
// be the same bytes both ways.
//
//   squashfs_bench [--scale S] [--runs N] [--dir DIR] [--keep]
//
// Ratios are mksquashfs's time over ours: 1 or more means ours is no slower.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/common/bench_stats.h"
#include "bench/common/bench_tree.h"
#include "engine/kt_system/file.h"
#include "engine/kt_system/fs.h"
#include "launcher/gamebuild/squashfs.h"

using namespace bench;

namespace {

// Ours: read every file, build the image, write it.
bool ours(const fs::path& tree, const std::vector<Tree_File>& files, const fs::path& out, uint64_t& size) {
    std::vector<std::string> data(files.size());
    std::vector<Sq_File> list(files.size());
    for (size_t i = 0; i < files.size(); ++i) {
        if (!fs_read((tree / files[i].name).string(), data[i])) return false;
        list[i] = {files[i].name, data[i], false};
    }
    std::string image, err;
    if (!squashfs_write(list, 1700000000u, image, err)) {
        std::fprintf(stderr, "squashfs_bench: %s\n", err.c_str());
        return false;
    }
    size = image.size();
    return fs_write(out.string(), image);
}

// Ours, streamed: the AppImage packer's way.
bool ours_streamed(const fs::path& tree, const std::vector<Tree_File>& files, const fs::path& out, uint64_t& size) {
    std::vector<std::string> paths(files.size());
    std::vector<Sq_File> list(files.size());
    for (size_t i = 0; i < files.size(); ++i) {
        paths[i] = (tree / files[i].name).string();
        list[i] = {files[i].name, {}, false, paths[i], files[i].size};
    }
    Sq_Layout layout;
    std::string err;
    File o;
    bool ok = squashfs_layout(sq_entries(list), 1700000000u, layout, err) && file_create(o, out.string(), &err) &&
              squashfs_stream(o, layout, list, size, err);
    ok = file_close(o, &err) && ok;
    if (!ok) std::fprintf(stderr, "squashfs_bench: %s\n", err.c_str());
    return ok;
}

std::string quote(const fs::path& p) { return "'" + p.string() + "'"; }

// One form as a process: the tree's files found afresh, in name order.
int run_form(const std::string& form, const fs::path& tree, const fs::path& out) {
    std::vector<Tree_File> files;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(tree, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (it->is_regular_file()) files.push_back({fs::relative(it->path(), tree).generic_string(), it->file_size()});
    }
    std::sort(files.begin(), files.end(), [](const Tree_File& a, const Tree_File& b) { return a.name < b.name; });
    uint64_t size = 0;
    bool ok = form == "streamed" ? ours_streamed(tree, files, out, size) : ours(tree, files, out, size);
    return ok ? 0 : 1;
}

// Runs a command under /usr/bin/time: its wall time and peak memory (MiB).
bool timed(const std::string& command, const fs::path& dir, double& seconds, double& peak) {
    fs::path kb = dir / "peak.kb";
    std::string line = "/usr/bin/time -f %M -o " + quote(kb) + " " + command;
    Clock::time_point t0 = Clock::now();
    if (std::system(line.c_str()) != 0) return false;
    seconds = seconds_since(t0);
    std::string text;
    peak = read_file(kb, text) ? std::atof(text.c_str()) / 1024.0 : 0;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    double scale = 1.0;
    int runs = 3;
    bool keep = false;
    fs::path dir = fs::temp_directory_path() / "qm_squashfs_bench";
    std::string form;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        if (a == "--form" && i + 3 < argc) {
            form = argv[++i];
            fs::path tree = argv[++i];
            return run_form(form, tree, argv[++i]);
        } else if (a == "--scale" && i + 1 < argc) {
            scale = std::atof(argv[++i]);
        } else if (a == "--runs" && i + 1 < argc) {
            runs = std::atoi(argv[++i]);
        } else if (a == "--dir" && i + 1 < argc) {
            dir = argv[++i];
        } else if (a == "--keep") {
            keep = true;
        } else {
            std::fprintf(stderr, "usage: squashfs_bench [--scale S] [--runs N] [--dir DIR] [--keep]\n");
            return 2;
        }
    }
    if (!(scale > 0) || runs < 1) {
        std::fprintf(stderr, "squashfs_bench: --scale must be above 0 and --runs at least 1\n");
        return 2;
    }
    if (std::system("command -v mksquashfs >/dev/null && command -v unsquashfs >/dev/null") != 0) {
        std::fprintf(stderr, "squashfs_bench: needs mksquashfs and unsquashfs (squashfs-tools)\n");
        return 2;
    }
    std::vector<Tree_File> files;
    uint64_t total = 0;
    if (!make_fresh_tree(dir, scale, files, total)) return 1;
    fs::path tree = dir / "tree";
    std::error_code ec;

    fs::path ours_image = dir / "ours.sqfs", streamed_image = dir / "streamed.sqfs",
             theirs_image = dir / "mksquashfs.sqfs";
    if (std::system("command -v /usr/bin/time >/dev/null") != 0) {
        std::fprintf(stderr, "squashfs_bench: needs /usr/bin/time for the peak memory\n");
        return 2;
    }
    std::string mksquashfs = "mksquashfs " + quote(tree) + " " + quote(theirs_image) +
                             " -noI -noD -noF -noX -no-xattrs -noappend -no-progress -quiet > /dev/null";
    std::string self = quote(fs::canonical("/proc/self/exe", ec));
    std::string in_memory_form = self + " --form in-memory " + quote(tree) + " " + quote(ours_image);
    std::string streamed_form = self + " --form streamed " + quote(tree) + " " + quote(streamed_image);
    std::vector<double> ratio_ours, ratio_streamed;
    double best_ours = 1e30, best_streamed = 1e30, best_theirs = 1e30;
    double peak_ours = 0, peak_streamed = 0, peak_theirs = 0;
    for (int r = 0; r < runs; r++) {
        double theirs = 0, in_memory = 0, streamed = 0, peak = 0;
        fs::remove(theirs_image, ec);
        if (!timed(mksquashfs, dir, theirs, peak)) {
            std::fprintf(stderr, "squashfs_bench: mksquashfs failed\n");
            return 1;
        }
        peak_theirs = std::max(peak_theirs, peak);
        fs::remove(ours_image, ec);
        if (!timed(in_memory_form, dir, in_memory, peak)) {
            std::fprintf(stderr, "squashfs_bench: our writer failed\n");
            return 1;
        }
        peak_ours = std::max(peak_ours, peak);
        fs::remove(streamed_image, ec);
        if (!timed(streamed_form, dir, streamed, peak)) {
            std::fprintf(stderr, "squashfs_bench: our streamed writer failed\n");
            return 1;
        }
        peak_streamed = std::max(peak_streamed, peak);
        best_theirs = std::min(best_theirs, theirs);
        best_ours = std::min(best_ours, in_memory);
        best_streamed = std::min(best_streamed, streamed);
        ratio_ours.push_back(theirs / in_memory);
        ratio_streamed.push_back(theirs / streamed);
    }
    uint64_t ours_size = fs::file_size(ours_image, ec), streamed_size = fs::file_size(streamed_image, ec);
    uint64_t theirs_size = fs::file_size(theirs_image, ec);
    double mb = double(total) / 1e6;
    std::printf("mksquashfs:                    best %.2f s (%.0f MB/s), image %.1f MB, peak %.0f MiB\n", best_theirs,
                mb / best_theirs, double(theirs_size) / 1e6, peak_theirs);
    std::printf("ours, streamed (the packer):   best %.2f s (%.0f MB/s), image %.1f MB, peak %.0f MiB\n",
                best_streamed, mb / best_streamed, double(streamed_size) / 1e6, peak_streamed);
    std::printf("ours, in memory (the tests'):  best %.2f s (%.0f MB/s), image %.1f MB, peak %.0f MiB\n", best_ours,
                mb / best_ours, double(ours_size) / 1e6, peak_ours);
    std::printf("mksquashfs / ours, min / median / max of %d pairs: streamed %s, in memory %s\n", runs,
                spread_text(ratio_streamed).c_str(), spread_text(ratio_ours).c_str());

    // Both images list the same paths.
    std::string list_ours = "unsquashfs -l " + quote(ours_image) + " > " + quote(dir / "ours.txt");
    std::string list_theirs = "unsquashfs -l " + quote(theirs_image) + " > " + quote(dir / "theirs.txt");
    std::string list_streamed = "unsquashfs -l " + quote(streamed_image) + " > " + quote(dir / "streamed.txt");
    int status = 0;
    if (std::system(list_ours.c_str()) != 0 || std::system(list_theirs.c_str()) != 0 ||
        std::system(list_streamed.c_str()) != 0)
        status = 1;
    std::string a, b, c;
    if (status == 0 && (!read_file(dir / "ours.txt", a) || !read_file(dir / "theirs.txt", b) ||
                        !read_file(dir / "streamed.txt", c) || a != b || c != b))
        status = 1;
    std::printf("verify: %s\n", status ? "FAILED (the listings differ)" : "ok (the same listing)");
    // Ours both ways: the same bytes.
    bool same = std::system(("cmp -s " + quote(ours_image) + " " + quote(streamed_image)).c_str()) == 0;
    std::printf("verify: ours %s\n",
                same ? "the same bytes streamed and in memory" : "FAILED (streamed and in memory differ)");
    if (!same) status = 1;

    if (!keep) fs::remove_all(dir, ec);
    return status;
}
