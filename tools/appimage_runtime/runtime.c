/* A small stand-in for the AppImage runtime, built as a static program for
   the AppImage's architecture and carried in the bundle as
   "appimage/runtime-<arch>". The real runtime (which mounts the image with
   FUSE and reads compressed images) is an input of the launcher, not ours;
   this one proves the file's shape: it finds the SquashFS image right after
   its own ELF file, reads it (uncompressed images only), extracts it and runs
   AppRun from there.

     <appimage> [args]                      extract to a temporary folder, run AppRun, clean up
     <appimage> --appimage-extract-and-run  the same
     <appimage> --appimage-extract          extract into ./squashfs-root
     <appimage> --appimage-offset           print the image's offset */
#define _GNU_SOURCE
#include <elf.h>
#include <errno.h>
#include <fcntl.h>
#include <ftw.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

static const unsigned char *img;   /* the image, bytes_used long */
static uint64_t img_size;
static unsigned char *inodes, *dirs; /* the metadata tables without block headers */
static uint64_t inodes_size, dirs_size;

static void die(const char *what) {
    fprintf(stderr, "appimage runtime: %s\n", what);
    exit(127);
}

static uint64_t le(const unsigned char *p, int n) {
    uint64_t v = 0;
    for (int i = n - 1; i >= 0; i--) v = v << 8 | p[i];
    return v;
}

/* The end of the ELF file at the start of `f`: where the image begins. */
static uint64_t elf_end(FILE *f) {
    Elf64_Ehdr eh;
    if (fseek(f, 0, SEEK_SET) != 0 || fread(&eh, sizeof eh, 1, f) != 1 || memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0)
        die("cannot read its own ELF header");
    uint64_t end = eh.e_shoff + (uint64_t)eh.e_shentsize * eh.e_shnum;
    uint64_t ph_end = eh.e_phoff + (uint64_t)eh.e_phentsize * eh.e_phnum;
    if (ph_end > end) end = ph_end;
    for (int i = 0; i < eh.e_phnum; i++) {
        Elf64_Phdr ph;
        if (fseek(f, (long)(eh.e_phoff + (uint64_t)i * eh.e_phentsize), SEEK_SET) != 0 || fread(&ph, sizeof ph, 1, f) != 1)
            die("cannot read its own program headers");
        if (ph.p_offset + ph.p_filesz > end) end = ph.p_offset + ph.p_filesz;
    }
    return end;
}

/* Copies a metadata table (blocks of a u16 header and up to 8192 bytes)
   without its headers. Every block but the last is full, so a reference
   (block start << 16 | offset) maps to (start / 8194) * 8192 + offset. */
static unsigned char *unblock(uint64_t start, uint64_t end, uint64_t *size) {
    if (start > end || end > img_size) die("the image's tables are out of place");
    unsigned char *out = malloc(end - start + 1);
    uint64_t n = 0;
    for (uint64_t at = start; at < end;) {
        if (at + 2 > end) die("a metadata block is cut off");
        unsigned h = (unsigned)le(img + at, 2);
        unsigned len = h & 0x7fff;
        if (!(h & 0x8000)) die("compressed metadata: this runtime reads uncompressed images only");
        if (at + 2 + len > end || len > 8192) die("a metadata block is cut off");
        memcpy(out + n, img + at + 2, len);
        n += len;
        at += 2 + len;
    }
    *size = n;
    return out;
}

static uint64_t flat(uint64_t block, uint64_t offset) { return block / 8194 * 8192 + offset; }

static void extract_dir(uint64_t ref, const char *path);

static const unsigned char *inode_at(uint64_t ref, uint64_t need) {
    uint64_t at = flat(ref >> 16, ref & 0xffff);
    if (at + need > inodes_size) die("an inode lies outside the inode table");
    return inodes + at;
}

static void extract_file(const unsigned char *in, const char *path) {
    unsigned mode = (unsigned)le(in + 2, 2);
    uint64_t start = le(in + 16, 4), size = le(in + 28, 4);
    if (le(in + 20, 4) != 0xFFFFFFFFu) die("fragments: this runtime reads images without fragments only");
    if (start + size > img_size) die("a file's data lies outside the image");
    for (uint64_t b = 0; b * 131072 < size; b++) {
        uint32_t word = (uint32_t)le(in + 32 + 4 * b, 4);
        if (!(word & 0x01000000u)) die("compressed data: this runtime reads uncompressed images only");
    }
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, mode & 07777);
    if (fd < 0) die("cannot write an extracted file");
    for (uint64_t done = 0; done < size;) {
        ssize_t n = write(fd, img + start + done, size - done);
        if (n <= 0) die("cannot write an extracted file");
        done += (uint64_t)n;
    }
    close(fd);
}

static void extract_dir(uint64_t ref, const char *path) {
    const unsigned char *in = inode_at(ref, 32);
    if (le(in, 2) != 1) die("only basic folders are read");
    uint64_t block = le(in + 16, 4), size = le(in + 24, 2), offset = le(in + 26, 2);
    if (mkdir(path, 0755) != 0 && errno != EEXIST) die("cannot make an extracted folder");
    uint64_t at = flat(block, offset), end = at + (size >= 3 ? size - 3 : 0);
    if (end > dirs_size) die("a listing lies outside the directory table");
    while (at < end) {
        if (at + 12 > end) die("a listing is cut off");
        uint64_t count = le(dirs + at, 4) + 1, start = le(dirs + at + 4, 4);
        at += 12;
        for (uint64_t i = 0; i < count; i++) {
            if (at + 8 > end) die("a listing is cut off");
            uint64_t off = le(dirs + at, 2), type = le(dirs + at + 4, 2), len = le(dirs + at + 6, 2) + 1;
            if (at + 8 + len > end) die("a listing is cut off");
            char name[257];
            memcpy(name, dirs + at + 8, len);
            name[len] = 0;
            at += 8 + len;
            if (strchr(name, '/') || strcmp(name, ".") == 0 || strcmp(name, "..") == 0) die("a bad name in a listing");
            char *child;
            if (asprintf(&child, "%s/%s", path, name) < 0) die("out of memory");
            uint64_t child_ref = start << 16 | off;
            if (type == 1) {
                extract_dir(child_ref, child);
            } else if (type == 2) {
                const unsigned char *f = inode_at(child_ref, 32);
                uint64_t fsize = le(f + 28, 4);
                inode_at(child_ref, 32 + 4 * ((fsize + 131071) / 131072));
                extract_file(f, child);
            } else {
                die("only folders and files are read");
            }
            free(child);
        }
    }
}

static uint64_t open_image(const char *self, int print_offset) {
    FILE *f = fopen(self, "rb");
    if (!f) die("cannot open itself");
    uint64_t offset = elf_end(f);
    if (print_offset) {
        printf("%llu\n", (unsigned long long)offset);
        exit(0);
    }
    unsigned char sb[96];
    if (fseek(f, (long)offset, SEEK_SET) != 0 || fread(sb, 96, 1, f) != 1 || memcmp(sb, "hsqs", 4) != 0)
        die("no SquashFS image after the runtime");
    img_size = le(sb + 40, 8);
    unsigned char *buf = malloc(img_size ? img_size : 1);
    if (!buf || fseek(f, (long)offset, SEEK_SET) != 0 || fread(buf, 1, img_size, f) != img_size)
        die("the image is cut off");
    fclose(f);
    img = buf;
    if (le(sb + 28, 2) != 4) die("not a SquashFS 4 image");
    inodes = unblock(le(sb + 64, 8), le(sb + 72, 8), &inodes_size);
    /* The directory table ends where the fragment, export or id tables begin;
       without fragments and exports that is the id table's block. */
    uint64_t id_block = le(img + le(sb + 48, 8), 8);
    dirs = unblock(le(sb + 72, 8), id_block, &dirs_size);
    return le(sb + 32, 8);
}

static int remove_one(const char *path, const struct stat *st, int flag, struct FTW *ftw) {
    (void)st, (void)flag, (void)ftw;
    return remove(path);
}

int main(int argc, char **argv) {
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) die("cannot find its own file");
    self[n] = 0;
    const char *option = argc > 1 ? argv[1] : "";
    uint64_t root = open_image(self, strcmp(option, "--appimage-offset") == 0);

    if (strcmp(option, "--appimage-extract") == 0) {
        extract_dir(root, "squashfs-root");
        return 0;
    }
    int skip = strcmp(option, "--appimage-extract-and-run") == 0 ? 2 : 1;
    const char *tmp = getenv("TMPDIR");
    char dir[4096];
    snprintf(dir, sizeof dir, "%s/appimage_extracted_XXXXXX", tmp && *tmp ? tmp : "/tmp");
    if (!mkdtemp(dir)) die("cannot make a temporary folder");
    extract_dir(root, dir);

    char apprun[4200];
    snprintf(apprun, sizeof apprun, "%s/AppRun", dir);
    setenv("APPIMAGE", self, 1);
    setenv("APPDIR", dir, 1);
    setenv("ARGV0", argv[0], 1);
    pid_t pid = fork();
    if (pid < 0) die("cannot start AppRun");
    if (pid == 0) {
        char **args = calloc((size_t)argc + 2, sizeof *args);
        args[0] = apprun;
        for (int i = skip; i < argc; i++) args[i - skip + 1] = argv[i];
        execv(apprun, args);
        fprintf(stderr, "appimage runtime: cannot run %s: %s\n", apprun, strerror(errno));
        _exit(127);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    nftw(dir, remove_one, 16, FTW_DEPTH | FTW_PHYS);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
