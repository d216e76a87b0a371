// Our SquashFS writer against mksquashfs making the same uncompressed image
// (-noI -noD -noF -noX -no-xattrs) of the same tree: the unpacked stand-in
// sources at the real bundle's shape (bench/common/bench_tree.h). Both read
// the files from disk and write the image to disk; each runs `--runs` times
// in turn and the best time counts. The images are then listed by
// unsquashfs and must hold the same files.
//
//   squashfs_bench [--scale S] [--runs N] [--dir DIR] [--keep]
//
// Prints the wall times and their ratio (mksquashfs / ours: 1 or more means
// ours is no slower).
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/common/bench_tree.h"
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
    if (!squashfs_write(list, image, err)) {
        std::fprintf(stderr, "squashfs_bench: %s\n", err.c_str());
        return false;
    }
    size = image.size();
    return fs_write(out.string(), image);
}

std::string quote(const fs::path& p) { return "'" + p.string() + "'"; }

}  // namespace

int main(int argc, char** argv) {
    double scale = 1.0;
    int runs = 3;
    bool keep = false;
    fs::path dir = fs::temp_directory_path() / "qm_squashfs_bench";
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        if (a == "--scale" && i + 1 < argc) {
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
    std::error_code ec;
    fs::remove_all(dir, ec);
    fs::path tree = dir / "tree";
    fs::create_directories(tree);
    Clock::time_point t0 = Clock::now();
    std::vector<Tree_File> files;
    uint64_t total = 0;
    if (!make_tree(tree, scale, files, total)) return 1;
    std::printf("tree: %zu files, %.1f MB (scale %.3f), made in %.1f s\n", files.size(), double(total) / 1e6, scale,
                seconds_since(t0));

    fs::path ours_image = dir / "ours.sqfs", theirs_image = dir / "mksquashfs.sqfs";
    std::string mksquashfs = "mksquashfs " + quote(tree) + " " + quote(theirs_image) +
                             " -noI -noD -noF -noX -no-xattrs -noappend -no-progress -quiet > /dev/null";
    double best_ours = 1e30, best_theirs = 1e30;
    uint64_t ours_size = 0;
    for (int r = 0; r < runs; r++) {
        fs::remove(theirs_image, ec);
        t0 = Clock::now();
        if (std::system(mksquashfs.c_str()) != 0) {
            std::fprintf(stderr, "squashfs_bench: mksquashfs failed\n");
            return 1;
        }
        best_theirs = std::min(best_theirs, seconds_since(t0));
        fs::remove(ours_image, ec);
        t0 = Clock::now();
        if (!ours(tree, files, ours_image, ours_size)) {
            std::fprintf(stderr, "squashfs_bench: our writer failed\n");
            return 1;
        }
        best_ours = std::min(best_ours, seconds_since(t0));
    }
    uint64_t theirs_size = fs::file_size(theirs_image, ec);
    double mb = double(total) / 1e6;
    std::printf("mksquashfs: %.2f s (%.0f MB/s), image %.1f MB\n", best_theirs, mb / best_theirs,
                double(theirs_size) / 1e6);
    std::printf("ours:       %.2f s (%.0f MB/s), image %.1f MB\n", best_ours, mb / best_ours, double(ours_size) / 1e6);
    std::printf("ratio (mksquashfs / ours, best of %d): %.2f\n", runs, best_theirs / best_ours);

    // Both images list the same paths.
    std::string list_ours = "unsquashfs -l " + quote(ours_image) + " > " + quote(dir / "ours.txt");
    std::string list_theirs = "unsquashfs -l " + quote(theirs_image) + " > " + quote(dir / "theirs.txt");
    int status = 0;
    if (std::system(list_ours.c_str()) != 0 || std::system(list_theirs.c_str()) != 0) status = 1;
    std::string a, b;
    if (status == 0 && (!read_file(dir / "ours.txt", a) || !read_file(dir / "theirs.txt", b) || a != b)) status = 1;
    std::printf("verify: %s\n", status ? "FAILED (the listings differ)" : "ok (the same listing)");

    if (!keep) fs::remove_all(dir, ec);
    return status;
}
