// What both back ends of open files share.
#include "engine/kt_system/file.h"

#include <algorithm>
#include <memory>
#include <new>

File& File::operator=(File&& o) noexcept {
    if (this != &o) {
        file_close(*this);
        h = o.h;
        disk_full = o.disk_full;
        o.h = -1;
    }
    return *this;
}

File::~File() { file_close(*this); }


bool file_copy_buffered(File& out, File& in, uint64_t offset, uint64_t size, std::string* err) {
    const size_t buffer_size = size_t(1) << 20;
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[buffer_size]);
    if (!buffer) {
        if (err) *err = "not enough memory";
        return false;
    }
    while (size > 0) {
        size_t want = size_t(std::min<uint64_t>(size, buffer_size));
        int64_t got = file_read_at(in, int64_t(offset), buffer.get(), want, err);
        if (got < 0) return false;
        if (got == 0) {
            if (err) *err = "the file ended before the bytes to copy";
            return false;
        }
        if (!file_write(out, buffer.get(), size_t(got), err)) return false;
        offset += uint64_t(got);
        size -= uint64_t(got);
    }
    return true;
}
