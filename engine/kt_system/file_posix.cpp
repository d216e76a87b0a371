// Open files on POSIX systems.
#include "engine/kt_system/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "engine/kt_system/fs.h"

namespace {

bool fail(std::string* err, int code) {
    if (err) *err = std::strerror(code);
    return false;
}

bool fail_text(std::string* err, std::string text) {
    if (err) *err = std::move(text);
    return false;
}

}  // namespace

bool file_open_read(File& f, std::string_view path, std::string* err) {
    file_close(f);
    // Without O_NONBLOCK, opening a FIFO waits for a writer; only a regular
    // file (also through a link) is kept open.
    int fd = open(std::string(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return fail(err, errno);
    struct stat st;
    if (fstat(fd, &st) != 0) {
        int code = errno;
        close(fd);
        return fail(err, code);
    }
    if (!S_ISREG(st.st_mode)) {
        bool dir = S_ISDIR(st.st_mode);
        close(fd);
        return dir ? fail(err, EISDIR) : fail_text(err, fs_not_regular_text());
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    f.h = fd;
    f.disk_full = false;
    return true;
}

bool file_create(File& f, std::string_view path, std::string* err) {
    file_close(f);
    if (fs_hook_refuses(path, err)) return false;
    std::string p(path);
    // Unlinking first removes a link itself; O_EXCL with O_NOFOLLOW then
    // refuses anything that appeared there meanwhile.
    if (unlink(p.c_str()) != 0 && errno != ENOENT && errno != EISDIR && errno != EPERM) return fail(err, errno);
    // Mode 0666 as fs_write gives: the umask decides.
    int fd = open(p.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) return fail(err, errno);
    f.h = fd;
    f.disk_full = fs_hook_disk_full(path);
    return true;
}

int64_t file_read_at(File& f, int64_t offset, void* buf, size_t size, std::string* err) {
    if (offset < 0) {
        fail(err, EINVAL);
        return -1;
    }
    for (;;) {
        ssize_t n = pread(int(f.h), buf, size, off_t(offset));
        if (n >= 0) return n;
        if (errno == EINTR) continue;
        fail(err, errno);
        return -1;
    }
}

bool file_write(File& f, const void* data, size_t size, std::string* err) {
    if (f.disk_full && size > 0) return fail(err, ENOSPC);
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = write(int(f.h), p, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail(err, errno);
        }
        p += n;
        size -= size_t(n);
    }
    return true;
}

bool file_copy(File& out, File& in, uint64_t offset, uint64_t size, std::string* err) {
    if (out.disk_full && size > 0) return fail(err, ENOSPC);
    if (offset > uint64_t(INT64_MAX) || size > uint64_t(INT64_MAX) - offset) return fail(err, EINVAL);
    while (size > 0) {
        off_t at = off_t(offset);
        size_t want = size_t(std::min<uint64_t>(size, uint64_t(1) << 30));
        ssize_t n = copy_file_range(int(in.h), &at, int(out.h), nullptr, want, 0);
        if (n > 0) {
            offset += uint64_t(n);
            size -= uint64_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        // The end of `in` (which the buffered copy reports), or a kernel or
        // file system that cannot copy these files: the buffer does the rest.
        if (n == 0 || errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP ||
            errno == EBADF || errno == ETXTBSY || errno == EPERM)
            break;
        return fail(err, errno);
    }
    return size == 0 || file_copy_buffered(out, in, offset, size, err);
}

bool file_size(File& f, int64_t& size, std::string* err) {
    struct stat st;
    if (fstat(int(f.h), &st) != 0) return fail(err, errno);
    size = int64_t(st.st_size);
    return true;
}

bool file_close(File& f, std::string* err) {
    if (f.h == -1) return true;
    int fd = int(f.h);
    f.h = -1;
    if (close(fd) != 0 && errno != EINTR) return fail(err, errno);
    return true;
}
