// Files and folders on POSIX systems.
#include "engine/kt_system/fs.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace {

std::string z(std::string_view s) { return std::string(s); }

bool fail(std::string* err, int code) {
    if (err) *err = std::strerror(code);
    return false;
}

bool fail_text(std::string* err, std::string text) {
    if (err) *err = std::move(text);
    return false;
}

int64_t time_ns(const struct timespec& t) {
    return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

struct Fd {
    int fd = -1;
    explicit Fd(int f) : fd(f) {}
    ~Fd() {
        if (fd >= 0) close(fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
};

// `full`: the test seam's full disk, which refuses any data.
bool write_all(int fd, const char* data, size_t size, std::string* err, bool full) {
    if (full && size > 0) return fail(err, ENOSPC);
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail(err, errno);
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Closes a file that was written; a failing close means lost data.
bool close_written(Fd& f, std::string* err) {
    int fd = f.fd;
    f.fd = -1;
    if (close(fd) != 0 && errno != EINTR) return fail(err, errno);
    return true;
}

// Removes the entry `name` of the open folder `dir_fd` and, for a real
// folder, everything in it. Links are unlinked, never followed: the folder
// is opened with O_NOFOLLOW so a link swapped in meanwhile is not entered.
bool remove_at(int dir_fd, const char* name, std::string* err) {
    struct stat st;
    if (fstatat(dir_fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT) return true;
        return fail(err, errno);
    }
    if (!S_ISDIR(st.st_mode)) {
        if (unlinkat(dir_fd, name, 0) != 0 && errno != ENOENT) return fail(err, errno);
        return true;
    }
    int fd = openat(dir_fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return fail(err, errno);
    DIR* d = fdopendir(fd);
    if (!d) {
        int code = errno;
        close(fd);
        return fail(err, code);
    }
    bool ok = true;
    while (ok) {
        errno = 0;
        struct dirent* e = readdir(d);
        if (!e) {
            if (errno != 0) ok = fail(err, errno);
            break;
        }
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        ok = remove_at(dirfd(d), e->d_name, err);
    }
    closedir(d);
    if (!ok) return false;
    if (unlinkat(dir_fd, name, AT_REMOVEDIR) != 0 && errno != ENOENT) return fail(err, errno);
    return true;
}

// Replaces `p` by its parent folder; false when there is none.
bool to_parent(std::string& p) {
    size_t root = !p.empty() && p[0] == '/' ? 1 : 0;
    while (p.size() > root && p.back() == '/') p.pop_back();
    if (p.size() <= root || p == ".") return false;
    size_t cut = p.rfind('/');
    if (cut == std::string::npos) {
        p = ".";
    } else {
        p.resize(cut);
        while (p.size() > root && p.back() == '/') p.pop_back();
        if (p.empty()) p = "/";
    }
    return true;
}

}  // namespace

std::string fs_new_temp_name(std::string_view path) {
    static std::atomic<unsigned> serial{0};
    return fs_temp_name(path, static_cast<uint64_t>(getpid()), serial++);
}

bool fs_stat(std::string_view path, File_Info& out) {
    out = File_Info{};
    struct stat st;
    if (lstat(z(path).c_str(), &st) != 0) return false;
    out.exists = true;
    out.is_dir = S_ISDIR(st.st_mode);
    out.is_link = S_ISLNK(st.st_mode);
    out.size = static_cast<uint64_t>(st.st_size);
    out.mtime_ns = time_ns(st.st_mtim);
    return true;
}

bool fs_is_dir(std::string_view path) {
    struct stat st;
    return stat(z(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool fs_is_executable(std::string_view path) {
    std::string p = z(path);
    struct stat st;
    return stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(p.c_str(), X_OK) == 0;
}

int64_t fs_mtime(std::string_view path) {
    struct stat st;
    if (stat(z(path).c_str(), &st) != 0) return 0;
    return time_ns(st.st_mtim);
}

bool fs_read(std::string_view path, std::string& out, std::string* err, uint64_t limit) {
    out.clear();
    // Without O_NONBLOCK, opening a FIFO waits for a writer; it is refused below.
    Fd f(open(z(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (f.fd < 0) return fail(err, errno);
    struct stat st;
    if (fstat(f.fd, &st) != 0) return fail(err, errno);
    if (S_ISDIR(st.st_mode)) return fail(err, EISDIR);
    if (!S_ISREG(st.st_mode)) return fail_text(err, fs_not_regular_text());
    if (st.st_size > 0 && static_cast<uint64_t>(st.st_size) > limit) return fail_text(err, fs_too_large_text(limit));
    // The size is a hint only: files under /proc report 0 and others may
    // grow while they are read, so the limit is kept on the bytes read too.
    out.reserve(static_cast<size_t>(st.st_size));
    char buf[65536];
    for (;;) {
        uint64_t room = limit - out.size();   // one byte more shows a larger file
        ssize_t n = read(f.fd, buf, room < sizeof buf ? static_cast<size_t>(room) + 1 : sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            int code = errno;
            out.clear();
            return fail(err, code);
        }
        if (n == 0) break;
        out.append(buf, static_cast<size_t>(n));
        if (out.size() > limit) {
            out.clear();
            out.shrink_to_fit();
            return fail_text(err, fs_too_large_text(limit));
        }
    }
    return true;
}

bool fs_read_at(std::string_view path, uint64_t offset, size_t count, std::string& out, std::string* err) {
    out.clear();
    Fd f(open(z(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (f.fd < 0) return fail(err, errno);
    struct stat st;
    if (fstat(f.fd, &st) != 0) return fail(err, errno);
    if (S_ISDIR(st.st_mode)) return fail(err, EISDIR);
    if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode)) return fail_text(err, fs_not_regular_text());
    out.resize(count);
    size_t got = 0;
    while (got < count) {
        ssize_t n = pread(f.fd, out.data() + got, count - got, static_cast<off_t>(offset + got));
        if (n < 0) {
            if (errno == EINTR) continue;
            int code = errno;
            out.clear();
            return fail(err, code);
        }
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    out.resize(got);
    return true;
}

bool fs_write(std::string_view path, std::string_view data, std::string* err) {
    if (fs_hook_refuses(path, err)) return false;
    Fd f(open(z(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (f.fd < 0) return fail(err, errno);
    if (!write_all(f.fd, data.data(), data.size(), err, fs_hook_disk_full(path))) return false;
    return close_written(f, err);
}

std::FILE* fs_open_write(std::string_view path, std::string* err) {
    if (fs_hook_refuses(path, err)) return nullptr;
    std::FILE* f = std::fopen(z(path).c_str(), "wb");
    if (!f) fail(err, errno);
    return f;
}

namespace {

// fs_write_atomic; a private file gets mode 0600 whatever the old one had.
bool write_atomic(std::string_view path, std::string_view data, std::string* err, bool private_file) {
    if (fs_hook_refuses(path, err)) return false;
    std::string target = z(path);
    std::string temp = fs_new_temp_name(target);
    // The new file keeps the mode of the one it replaces (not of a link's target).
    struct stat old;
    bool had = lstat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode);
    bool set_mode = private_file || had;
    mode_t mode = private_file ? 0600 : old.st_mode & 07777;
    Fd f(open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, private_file ? 0600 : 0666));
    if (f.fd < 0) return fail(err, errno);
    bool ok = (!set_mode || fchmod(f.fd, mode) == 0 || fail(err, errno)) &&
              write_all(f.fd, data.data(), data.size(), err, fs_hook_disk_full(path)) &&
              (fsync(f.fd) == 0 || fail(err, errno)) && close_written(f, err) &&
              (rename(temp.c_str(), target.c_str()) == 0 || fail(err, errno));
    if (!ok) {
        unlink(temp.c_str());
        return false;
    }
    // The rename itself reaches the disk with the folder.
    std::string dir = target;
    if (!to_parent(dir)) dir = ".";
    Fd d(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (d.fd >= 0) fsync(d.fd);
    return true;
}

}  // namespace

bool fs_write_atomic(std::string_view path, std::string_view data, std::string* err) {
    return write_atomic(path, data, err, false);
}

bool fs_write_private(std::string_view path, std::string_view data, std::string* err) {
    return write_atomic(path, data, err, true);
}

bool fs_make_dirs(std::string_view path, std::string* err) {
    if (fs_hook_refuses(path, err)) return false;
    std::string p = z(path);
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    if (p.empty()) return fail(err, ENOENT);
    if (fs_is_dir(p)) return true;
    int last_error = 0;
    for (size_t i = 1; i <= p.size(); ++i) {
        if (i < p.size() && p[i] != '/') continue;
        if (p[i - 1] == '/') continue;
        std::string part = p.substr(0, i);
        if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) last_error = errno;
    }
    if (fs_is_dir(p)) return true;
    return fail(err, last_error ? last_error : EEXIST);
}

bool fs_list(std::string_view dir, std::vector<Dir_Entry>& out, std::string* err) {
    out.clear();
    DIR* d = opendir(z(dir).c_str());
    if (!d) return fail(err, errno);
    bool ok = true;
    for (;;) {
        errno = 0;
        struct dirent* e = readdir(d);
        if (!e) {
            if (errno != 0) ok = fail(err, errno);
            break;
        }
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        Dir_Entry entry;
        entry.name = e->d_name;
        struct stat st;
        if (fstatat(dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
            entry.is_dir = S_ISDIR(st.st_mode);
            entry.is_link = S_ISLNK(st.st_mode);
            entry.is_file = S_ISREG(st.st_mode);
            entry.size = static_cast<uint64_t>(st.st_size);
            entry.mtime_ns = time_ns(st.st_mtim);
        } else {
            if (errno == ENOENT) continue;  // removed while listing
            entry.is_dir = e->d_type == DT_DIR;
            entry.is_link = e->d_type == DT_LNK;
            entry.is_file = e->d_type == DT_REG;
        }
        out.push_back(std::move(entry));
    }
    closedir(d);
    if (!ok) out.clear();
    return ok;
}

bool fs_remove_file(std::string_view path, std::string* err) {
    if (fs_hook_refuses(path, err)) return false;
    if (unlink(z(path).c_str()) != 0) return fail(err, errno);
    return true;
}

bool fs_remove_dir(std::string_view path, std::string* err) {
    if (fs_hook_refuses(path, err)) return false;
    if (rmdir(z(path).c_str()) != 0) return fail(err, errno);
    return true;
}

bool fs_remove_tree(std::string_view path, std::string* err) {
    if (fs_hook_refuses(path, err)) return false;
    return remove_at(AT_FDCWD, z(path).c_str(), err);
}

bool fs_rename(std::string_view from, std::string_view to, std::string* err) {
    if (fs_hook_refuses(from, err) || fs_hook_refuses(to, err)) return false;
    if (rename(z(from).c_str(), z(to).c_str()) != 0) return fail(err, errno);
    return true;
}

std::FILE* fs_open_stream(std::string_view path) {
    if (fs_hook_refuses(path, nullptr)) return nullptr;
    return std::fopen(std::string(path).c_str(), "wb");
}

bool fs_copy_file(std::string_view from, std::string_view to, std::string* err) {
    if (fs_hook_refuses(to, err)) return false;
    Fd in(open(z(from).c_str(), O_RDONLY | O_CLOEXEC));
    if (in.fd < 0) return fail(err, errno);
    struct stat st;
    if (fstat(in.fd, &st) != 0) return fail(err, errno);
    if (S_ISDIR(st.st_mode)) return fail(err, EISDIR);
    mode_t mode = st.st_mode & 0777;
    Fd out(open(z(to).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode));
    if (out.fd < 0) return fail(err, errno);
    // A target that existed keeps its old mode through O_CREAT; give it the source's.
    if (fchmod(out.fd, mode) != 0) return fail(err, errno);
    bool full = fs_hook_disk_full(to);
#ifdef __linux__
    // The kernel copies (or clones) the data of a regular file without
    // passing it through here (files of size 0, such as those of /proc, are
    // read instead). Where it cannot for these two files, or stops early, the
    // loop below goes on from where it stopped: both files' positions have
    // moved alike, and it reads to the true end.
    while (!full && S_ISREG(st.st_mode) && st.st_size > 0) {
        ssize_t n = copy_file_range(in.fd, nullptr, out.fd, nullptr, size_t(1) << 30, 0);
        if (n > 0) continue;
        if (n == 0) break;
        if (errno == EINTR) continue;
        if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP && errno != EBADF &&
            errno != EPERM)
            return fail(err, errno);
        break;
    }
#endif
    char buf[65536];
    for (;;) {
        ssize_t n = read(in.fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail(err, errno);
        }
        if (n == 0) break;
        if (!write_all(out.fd, buf, static_cast<size_t>(n), err, full)) return false;
    }
    return close_written(out, err);
}

bool fs_free_space(std::string_view path, uint64_t& bytes, std::string* err) {
    bytes = 0;
    bool handled = false;
    bool ok = fs_hook_free_space(path, bytes, handled);
    if (handled) {
        if (!ok && err) *err = "refused by the test hook";
        return ok;
    }
    // A path that does not exist yet is answered for its nearest existing parent.
    std::string p = z(path);
    struct statvfs sv;
    while (statvfs(p.c_str(), &sv) != 0) {
        int code = errno;
        if ((code != ENOENT && code != ENOTDIR) || !to_parent(p)) return fail(err, code);
    }
    bytes = static_cast<uint64_t>(sv.f_bavail) * static_cast<uint64_t>(sv.f_frsize);
    return true;
}

bool fs_set_read_only(std::string_view path, bool read_only, std::string* err) {
    if (fs_hook_refuses(path, err)) return false;
    struct stat st;
    if (stat(z(path).c_str(), &st) != 0) return fail(err, errno);
    mode_t mode = st.st_mode & 07777;
    mode = read_only ? mode & ~mode_t(0222) : mode | S_IWUSR;
    if (chmod(z(path).c_str(), mode) != 0) return fail(err, errno);
    return true;
}

bool fs_set_executable(std::string_view path, std::string* err) {
    if (fs_hook_refuses(path, err)) return false;
    struct stat st;
    if (stat(z(path).c_str(), &st) != 0) return fail(err, errno);
    mode_t mode = st.st_mode & 07777;
    mode |= (mode & 0444) >> 2;
    if (chmod(z(path).c_str(), mode) != 0) return fail(err, errno);
    return true;
}

bool fs_make_link(std::string_view target, std::string_view link, bool to_dir, std::string* err) {
    (void)to_dir;
    if (fs_hook_refuses(link, err)) return false;
    if (symlink(z(target).c_str(), z(link).c_str()) != 0) return fail(err, errno);
    return true;
}

bool fs_truncate(std::string_view path, uint64_t size, std::string* err) {
    if (fs_hook_refuses(path, err)) return false;
    Fd f(open(z(path).c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC));
    if (f.fd < 0) return fail(err, errno);
    if (ftruncate(f.fd, static_cast<off_t>(size)) != 0) return fail(err, errno);
    return true;
}

bool fs_set_mtime(std::string_view path, int64_t mtime_ns, std::string* err) {
    if (fs_hook_refuses(path, err)) return false;
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = static_cast<time_t>(mtime_ns / 1000000000);
    times[1].tv_nsec = static_cast<long>(mtime_ns % 1000000000);
    if (times[1].tv_nsec < 0) {
        times[1].tv_nsec += 1000000000;
        times[1].tv_sec -= 1;
    }
    if (utimensat(AT_FDCWD, z(path).c_str(), times, 0) != 0) return fail(err, errno);
    return true;
}
