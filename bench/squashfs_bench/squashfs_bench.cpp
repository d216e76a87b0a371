// Our SquashFS writer against mksquashfs making the same uncompressed image
// (-noI -noD -noF -noX -no-xattrs) of the same tree: the unpacked stand-in
// sources at the real bundle's shape (bench/common/bench_tree.h). Each reads
// the files from disk and writes the image to disk, ours two ways:
//   - in memory, as the AppImage packer does: every file read whole, the
//     image built whole (squashfs_write), then written;
//   - streamed: the layout from the file sizes (squashfs_layout), then each
//     file's data copied through one buffer, as mksquashfs works.
// Each runs `--runs` times in turn and the best time counts. The images are
// then listed by unsquashfs and must hold the same files.
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

// Ours, streamed: the layout from the sizes, then the data through one buffer.
bool ours_streamed(const fs::path& tree, const std::vector<Tree_File>& files, const fs::path& out, uint64_t& size) {
    std::vector<Sq_Entry> entries(files.size());
    for (size_t i = 0; i < files.size(); ++i) entries[i] = {files[i].name, files[i].size, false};
    Sq_Layout layout;
    std::string err;
    if (!squashfs_layout(entries, 1700000000u, layout, err)) {
        std::fprintf(stderr, "squashfs_bench: %s\n", err.c_str());
        return false;
    }
    std::FILE* o = std::fopen(out.string().c_str(), "wb");
    if (!o) return false;
    std::vector<char> buf(1 << 20);
    bool ok = std::fwrite(layout.head.data(), 1, layout.head.size(), o) == layout.head.size();
    for (size_t i : layout.order) {
        std::FILE* in = std::fopen((tree / files[i].name).string().c_str(), "rb");
        if (!in) {
            std::fclose(o);
            return false;
        }
        uint64_t left = files[i].size;
        while (ok && left > 0) {
            size_t n = std::fread(buf.data(), 1, std::min<uint64_t>(buf.size(), left), in);
            if (n == 0) ok = false;
            ok = ok && std::fwrite(buf.data(), 1, n, o) == n;
            left -= n;
        }
        std::fclose(in);
    }
    ok = ok && std::fwrite(layout.tail.data(), 1, layout.tail.size(), o) == layout.tail.size();
    ok = std::fclose(o) == 0 && ok;
    size = layout.head.size() + layout.tail.size();
    for (const Tree_File& f : files) size += f.size;
    return ok;
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
    std::vector<Tree_File> files;
    uint64_t total = 0;
    if (!make_fresh_tree(dir, scale, files, total)) return 1;
    fs::path tree = dir / "tree";
    Clock::time_point t0;
    std::error_code ec;

    fs::path ours_image = dir / "ours.sqfs", streamed_image = dir / "streamed.sqfs",
             theirs_image = dir / "mksquashfs.sqfs";
    std::string mksquashfs = "mksquashfs " + quote(tree) + " " + quote(theirs_image) +
                             " -noI -noD -noF -noX -no-xattrs -noappend -no-progress -quiet > /dev/null";
    double best_ours = 1e30, best_streamed = 1e30, best_theirs = 1e30;
    uint64_t ours_size = 0, streamed_size = 0;
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
        fs::remove(streamed_image, ec);
        t0 = Clock::now();
        if (!ours_streamed(tree, files, streamed_image, streamed_size)) {
            std::fprintf(stderr, "squashfs_bench: our streamed writer failed\n");
            return 1;
        }
        best_streamed = std::min(best_streamed, seconds_since(t0));
    }
    uint64_t theirs_size = fs::file_size(theirs_image, ec);
    double mb = double(total) / 1e6;
    std::printf("mksquashfs: %.2f s (%.0f MB/s), image %.1f MB\n", best_theirs, mb / best_theirs,
                double(theirs_size) / 1e6);
    std::printf("ours, in memory: %.2f s (%.0f MB/s), image %.1f MB\n", best_ours, mb / best_ours,
                double(ours_size) / 1e6);
    std::printf("ours, streamed:  %.2f s (%.0f MB/s), image %.1f MB\n", best_streamed, mb / best_streamed,
                double(streamed_size) / 1e6);
    std::printf("ratio (mksquashfs / ours, best of %d): in memory %.2f, streamed %.2f\n", runs,
                best_theirs / best_ours, best_theirs / best_streamed);

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

    if (!keep) fs::remove_all(dir, ec);
    return status;
}
