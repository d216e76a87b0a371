// Open files on Windows.
#include "engine/kt_system/file.h"

#include "engine/kt_system/fs.h"
#include "engine/kt_system/win_util.h"

namespace {

bool fail(std::string* err, DWORD code) {
    if (err) *err = win_error_text(code);
    return false;
}

HANDLE handle_of(const File& f) { return reinterpret_cast<HANDLE>(f.h); }

}  // namespace

bool file_open_read(File& f, std::string_view path, std::string* err) {
    file_close(f);
    HANDLE h = CreateFileW(wide_path_z(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return fail(err, GetLastError());
    // Only a file on a disk is kept open, never a pipe or a device.
    if (GetFileType(h) != FILE_TYPE_DISK) {
        CloseHandle(h);
        if (err) *err = fs_not_regular_text();
        return false;
    }
    f.h = reinterpret_cast<intptr_t>(h);
    f.disk_full = false;
    return true;
}

bool file_create(File& f, std::string_view path, std::string* err) {
    file_close(f);
    if (fs_hook_refuses(path, err)) return false;
    std::wstring w = wide_path_z(path);
    // Deleting first removes a link itself; CREATE_NEW then refuses anything
    // that appeared there meanwhile.
    DWORD attrs = GetFileAttributesW(w.c_str());
    if (attrs != INVALID_FILE_ATTRIBUTES && !(attrs & FILE_ATTRIBUTE_DIRECTORY)) {
        if (attrs & FILE_ATTRIBUTE_READONLY) SetFileAttributesW(w.c_str(), attrs & ~DWORD(FILE_ATTRIBUTE_READONLY));
        if (!DeleteFileW(w.c_str())) {
            DWORD code = GetLastError();
            if (code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND) return fail(err, code);
        }
    }
    HANDLE h = CreateFileW(w.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return fail(err, GetLastError());
    f.h = reinterpret_cast<intptr_t>(h);
    f.disk_full = fs_hook_disk_full(path);
    return true;
}

int64_t file_read_at(File& f, int64_t offset, void* buf, size_t size, std::string* err) {
    if (offset < 0) {
        fail(err, ERROR_NEGATIVE_SEEK);
        return -1;
    }
    DWORD chunk = size > (1u << 30) ? (1u << 30) : DWORD(size);
    OVERLAPPED at = {};
    at.Offset = DWORD(uint64_t(offset) & 0xFFFFFFFFu);
    at.OffsetHigh = DWORD(uint64_t(offset) >> 32);
    DWORD got = 0;
    if (!ReadFile(handle_of(f), buf, chunk, &got, &at)) {
        DWORD code = GetLastError();
        if (code == ERROR_HANDLE_EOF) return 0;
        fail(err, code);
        return -1;
    }
    return int64_t(got);
}

bool file_write(File& f, const void* data, size_t size, std::string* err) {
    if (f.disk_full && size > 0) return fail(err, ERROR_DISK_FULL);
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        DWORD chunk = size > (1u << 30) ? (1u << 30) : DWORD(size);
        DWORD done = 0;
        if (!WriteFile(handle_of(f), p, chunk, &done, nullptr)) return fail(err, GetLastError());
        p += done;
        size -= done;
    }
    return true;
}

bool file_copy(File& out, File& in, uint64_t offset, uint64_t size, std::string* err) {
    return file_copy_buffered(out, in, offset, size, err);
}

bool file_size(File& f, int64_t& size, std::string* err) {
    LARGE_INTEGER s;
    if (!GetFileSizeEx(handle_of(f), &s)) return fail(err, GetLastError());
    size = s.QuadPart;
    return true;
}

bool file_close(File& f, std::string* err) {
    if (f.h == -1) return true;
    HANDLE h = handle_of(f);
    f.h = -1;
    if (!CloseHandle(h)) return fail(err, GetLastError());
    return true;
}
