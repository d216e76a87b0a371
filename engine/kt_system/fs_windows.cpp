// Files and folders on Windows. Paths arrive as UTF-8 and become UTF-16
// only at the system call.
#include "engine/kt_system/fs.h"

#include "engine/kt_system/win_util.h"

#include <atomic>

namespace {

bool fail(std::string* err, DWORD code) {
    if (err) *err = win_error_text(code);
    return false;
}

bool fail_last(std::string* err) { return fail(err, GetLastError()); }

bool fail_text(std::string* err, std::string text) {
    if (err) *err = std::move(text);
    return false;
}

bool is_sep(char c) { return c == '/' || c == '\\'; }

bool is_missing(DWORD code) { return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND; }

uint64_t join64(DWORD high, DWORD low) { return (static_cast<uint64_t>(high) << 32) | low; }

// Length of "server\share\" at the start of a UNC path's remainder.
size_t share_length(std::string_view p) {
    size_t i = 0;
    for (int parts = 0; i < p.size() && parts < 2; ++i) {
        if (is_sep(p[i])) ++parts;
    }
    return i;
}

// Length of the part of a path that names a root and cannot be created:
// "C:\", "C:", "\\server\share\", "\\?\C:\", "\\?\UNC\server\share\", "\".
size_t root_length(std::string_view p) {
    if (p.size() >= 4 && p.substr(0, 4) == "\\\\?\\") {
        std::string_view rest = p.substr(4);
        if (rest.size() >= 4 && (rest.substr(0, 4) == "UNC\\" || rest.substr(0, 4) == "unc\\")) {
            return 8 + share_length(rest.substr(4));
        }
        return 4 + root_length(rest);
    }
    if (p.size() >= 2 && p[1] == ':') return p.size() >= 3 && is_sep(p[2]) ? 3 : 2;
    if (p.size() >= 2 && is_sep(p[0]) && is_sep(p[1])) return 2 + share_length(p.substr(2));
    if (!p.empty() && is_sep(p[0])) return 1;
    return 0;
}

// Replaces `p` by its parent folder; false when there is none.
bool to_parent(std::string& p) {
    size_t root = root_length(p);
    while (p.size() > root && is_sep(p.back())) p.pop_back();
    if (p.size() <= root || p == ".") return false;
    size_t cut = p.size();
    while (cut > root && !is_sep(p[cut - 1])) --cut;
    if (cut == 0) {
        p = ".";
    } else {
        p.resize(cut);
        while (p.size() > root && is_sep(p.back())) p.pop_back();
    }
    return true;
}

// The path of a folder's entry, with one separator between.
std::string child_path(std::string_view dir, const wchar_t* name) {
    std::string out(dir);
    if (!out.empty() && !is_sep(out.back())) out.push_back('\\');
    out += narrow(name, wcslen(name));
    return out;
}

bool is_dot_name(const wchar_t* n) { return n[0] == L'.' && (n[1] == 0 || (n[1] == L'.' && n[2] == 0)); }

// Opens a folder listing. An empty drive root answers ERROR_FILE_NOT_FOUND
// (it has no "." entry).
HANDLE find_first(std::string_view dir, WIN32_FIND_DATAW& fd) {
    std::string pattern(dir);
    if (!pattern.empty() && !is_sep(pattern.back())) pattern.push_back('\\');
    pattern.push_back('*');
    return FindFirstFileExW(wide_path_z(pattern).c_str(), FindExInfoBasic, &fd, FindExSearchNameMatch, nullptr,
                            FIND_FIRST_EX_LARGE_FETCH);
}

// Status with links followed: the attributes of what a link points to.
bool stat_followed(std::string_view path, bool& is_dir, int64_t& mtime) {
    std::wstring w = wide_path_z(path);
    WIN32_FILE_ATTRIBUTE_DATA a;
    if (!GetFileAttributesExW(w.c_str(), GetFileExInfoStandard, &a)) return false;
    if (!(a.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        is_dir = (a.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        mtime = filetime_ns(a.ftLastWriteTime);
        return true;
    }
    Win_Handle h(CreateFileW(w.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!h.valid()) return false;
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(h.h, &info)) return false;
    is_dir = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    mtime = filetime_ns(info.ftLastWriteTime);
    return true;
}

// `full`: the test seam's full disk, which refuses any data.
bool write_all(HANDLE h, const char* data, size_t size, std::string* err, bool full) {
    if (full && size > 0) return fail(err, ERROR_DISK_FULL);
    while (size > 0) {
        DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
        DWORD done = 0;
        if (!WriteFile(h, data, chunk, &done, nullptr)) return fail_last(err);
        data += done;
        size -= done;
    }
    return true;
}

bool close_written(Win_Handle& f, std::string* err) {
    HANDLE h = f.h;
    f.h = INVALID_HANDLE_VALUE;
    if (!CloseHandle(h)) return fail_last(err);
    return true;
}

// Deletes a file; a read-only one loses that attribute first.
bool delete_file(const std::wstring& w, DWORD attrs, std::string* err) {
    if (DeleteFileW(w.c_str())) return true;
    DWORD code = GetLastError();
    if (is_missing(code)) return true;
    if (code == ERROR_ACCESS_DENIED && (attrs & FILE_ATTRIBUTE_READONLY) &&
        SetFileAttributesW(w.c_str(), attrs & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY))) {
        if (DeleteFileW(w.c_str())) return true;
        code = GetLastError();
    }
    return fail(err, code);
}

// Removes one entry with the attributes it was found with. A reparse point
// (symbolic link, junction) is removed itself and never entered.
bool remove_entry(const std::string& path, DWORD attrs, std::string* err) {
    std::wstring w = wide_path_z(path);
    if (!(attrs & FILE_ATTRIBUTE_DIRECTORY)) return delete_file(w, attrs, err);
    if (!(attrs & FILE_ATTRIBUTE_REPARSE_POINT)) {
        WIN32_FIND_DATAW fd;
        HANDLE find = find_first(path, fd);
        if (find == INVALID_HANDLE_VALUE) {
            DWORD code = GetLastError();
            if (code != ERROR_FILE_NOT_FOUND && !is_missing(code)) return fail(err, code);
        } else {
            bool ok = true;
            do {
                if (is_dot_name(fd.cFileName)) continue;
                ok = remove_entry(child_path(path, fd.cFileName), fd.dwFileAttributes, err);
            } while (ok && FindNextFileW(find, &fd));
            DWORD code = ok ? GetLastError() : ERROR_SUCCESS;
            FindClose(find);
            if (!ok) return false;
            if (code != ERROR_NO_MORE_FILES) return fail(err, code);
        }
    }
    if (RemoveDirectoryW(w.c_str())) return true;
    DWORD code = GetLastError();
    if (is_missing(code)) return true;
    if (code == ERROR_ACCESS_DENIED && (attrs & FILE_ATTRIBUTE_READONLY) &&
        SetFileAttributesW(w.c_str(), attrs & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY))) {
        if (RemoveDirectoryW(w.c_str())) return true;
        code = GetLastError();
    }
    return fail(err, code);
}

}  // namespace

std::string fs_new_temp_name(std::string_view path) {
    static std::atomic<unsigned> serial{0};
    return fs_temp_name(path, GetCurrentProcessId(), serial++);
}

bool fs_stat(std::string_view path, File_Info& out) {
    out = File_Info{};
    WIN32_FILE_ATTRIBUTE_DATA a;
    if (!GetFileAttributesExW(wide_path_z(path).c_str(), GetFileExInfoStandard, &a)) return false;
    out.exists = true;
    out.is_link = (a.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    out.is_dir = (a.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && !out.is_link;
    out.size = out.is_dir ? 0 : join64(a.nFileSizeHigh, a.nFileSizeLow);
    out.mtime_ns = filetime_ns(a.ftLastWriteTime);
    return true;
}

bool fs_is_dir(std::string_view path) {
    bool is_dir = false;
    int64_t mtime = 0;
    return stat_followed(path, is_dir, mtime) && is_dir;
}

bool fs_is_executable(std::string_view path) {
    bool is_dir = false;
    int64_t mtime = 0;
    return stat_followed(path, is_dir, mtime) && !is_dir;
}

int64_t fs_mtime(std::string_view path) {
    bool is_dir = false;
    int64_t mtime = 0;
    if (!stat_followed(path, is_dir, mtime)) return 0;
    return mtime;
}

bool fs_read(std::string_view path, std::string& out, std::string* err, uint64_t limit) {
    out.clear();
    Win_Handle f(CreateFileW(wide_path_z(path).c_str(), GENERIC_READ,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!f.valid()) return fail_last(err);
    // A pipe, a console or a device such as NUL is no file to read whole.
    if (GetFileType(f.h) != FILE_TYPE_DISK) return fail_text(err, fs_not_regular_text());
    LARGE_INTEGER size;
    if (!GetFileSizeEx(f.h, &size)) return fail_last(err);
    if (size.QuadPart > 0 && static_cast<uint64_t>(size.QuadPart) > limit) return fail_text(err, fs_too_large_text(limit));
    if (size.QuadPart > 0) out.reserve(static_cast<size_t>(size.QuadPart));
    // The file may grow while it is read: the limit holds for the bytes read.
    char buf[65536];
    for (;;) {
        uint64_t room = limit - out.size();   // one byte more shows a larger file
        DWORD got = 0;
        if (!ReadFile(f.h, buf, room < sizeof buf ? static_cast<DWORD>(room) + 1 : DWORD(sizeof buf), &got, nullptr)) {
            out.clear();
            return fail_last(err);
        }
        if (got == 0) break;
        out.append(buf, got);
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
    Win_Handle f(CreateFileW(wide_path_z(path).c_str(), GENERIC_READ,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!f.valid()) return fail_last(err);
    if (GetFileType(f.h) != FILE_TYPE_DISK) return fail_text(err, fs_not_regular_text());
    out.resize(count);
    size_t got = 0;
    while (got < count) {
        uint64_t at = offset + got;
        OVERLAPPED ov = {};
        ov.Offset = static_cast<DWORD>(at);
        ov.OffsetHigh = static_cast<DWORD>(at >> 32);
        size_t left = count - got;
        DWORD chunk = left > (1u << 30) ? (1u << 30) : static_cast<DWORD>(left);
        DWORD n = 0;
        if (!ReadFile(f.h, out.data() + got, chunk, &n, &ov)) {
            DWORD code = GetLastError();
            if (code == ERROR_HANDLE_EOF) break;
            out.clear();
            return fail(err, code);
        }
        if (n == 0) break;
        got += n;
    }
    out.resize(got);
    return true;
}

bool fs_write(std::string_view path, std::string_view data, std::string* err) {
    if (fs_hook_refuses(path, err)) return false;
    Win_Handle f(CreateFileW(wide_path_z(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!f.valid()) return fail_last(err);
    if (!write_all(f.h, data.data(), data.size(), err, fs_hook_disk_full(path))) return false;
    return close_written(f, err);
}

bool fs_write_private(std::string_view path, std::string_view data, std::string* err) {
    return fs_write_atomic(path, data, err);
}

std::FILE* fs_open_write(std::string_view path, std::string* err) {
    if (fs_hook_refuses(path, err)) return nullptr;
    std::FILE* f = _wfopen(wide_path_z(path).c_str(), L"wb");
    if (!f && err) *err = "cannot open the file";
    return f;
}

bool fs_write_atomic(std::string_view path, std::string_view data, std::string* err) {
    if (fs_hook_refuses(path, err)) return false;
    std::string temp = fs_new_temp_name(path);
    std::wstring wtemp = wide_path_z(temp), wtarget = wide_path_z(path);
    bool written = false;
    {
        Win_Handle f(CreateFileW(wtemp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!f.valid()) return fail_last(err);
        written = write_all(f.h, data.data(), data.size(), err, fs_hook_disk_full(path)) &&
                  (FlushFileBuffers(f.h) || fail_last(err)) && close_written(f, err);
    }
    // (An open file cannot be deleted: the handle is closed by now.)
    if (!written) {
        DeleteFileW(wtemp.c_str());
        return false;
    }
    // A read-only old file refuses to be replaced: it loses the attribute.
    // A scanner or indexer holding the old file open a moment makes the
    // move fail with a sharing violation: a few tries, 50 ms apart.
    const DWORD flags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
    DWORD code = ERROR_SUCCESS;
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (MoveFileExW(wtemp.c_str(), wtarget.c_str(), flags)) return true;
        code = GetLastError();
        DWORD attrs = GetFileAttributesW(wtarget.c_str());
        if (code == ERROR_ACCESS_DENIED && attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_READONLY)) {
            SetFileAttributesW(wtarget.c_str(), attrs & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
            continue;
        }
        if (code != ERROR_SHARING_VIOLATION && code != ERROR_ACCESS_DENIED && code != ERROR_LOCK_VIOLATION) break;
        Sleep(50);
    }
    DeleteFileW(wtemp.c_str());
    return fail(err, code);
}

bool fs_make_dirs(std::string_view path, std::string* err) {
    if (fs_hook_refuses(path, err)) return false;
    std::string p(path);
    size_t root = root_length(p);
    while (p.size() > root && is_sep(p.back())) p.pop_back();
    if (p.empty()) return fail(err, ERROR_PATH_NOT_FOUND);
    if (fs_is_dir(p)) return true;
    DWORD last_error = 0;
    for (size_t i = root + 1; i <= p.size(); ++i) {
        if (i < p.size() && !is_sep(p[i])) continue;
        if (is_sep(p[i - 1])) continue;
        if (!CreateDirectoryW(wide_path_z(p.substr(0, i)).c_str(), nullptr)) {
            DWORD code = GetLastError();
            if (code != ERROR_ALREADY_EXISTS) last_error = code;
        }
    }
    if (fs_is_dir(p)) return true;
    return fail(err, last_error ? last_error : ERROR_ALREADY_EXISTS);
}

bool fs_list(std::string_view dir, std::vector<Dir_Entry>& out, std::string* err) {
    out.clear();
    WIN32_FIND_DATAW fd;
    HANDLE find = find_first(dir, fd);
    if (find == INVALID_HANDLE_VALUE) {
        DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND && fs_is_dir(dir)) return true;
        return fail(err, code);
    }
    do {
        if (is_dot_name(fd.cFileName)) continue;
        Dir_Entry e;
        e.name = narrow(fd.cFileName, wcslen(fd.cFileName));
        e.is_link = (fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        e.is_dir = (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && !e.is_link;
        e.is_file = (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && !e.is_link;
        e.size = e.is_dir ? 0 : join64(fd.nFileSizeHigh, fd.nFileSizeLow);
        e.mtime_ns = filetime_ns(fd.ftLastWriteTime);
        out.push_back(std::move(e));
    } while (FindNextFileW(find, &fd));
    DWORD code = GetLastError();
    FindClose(find);
    if (code != ERROR_NO_MORE_FILES) {
        out.clear();
        return fail(err, code);
    }
    return true;
}

bool fs_remove_file(std::string_view path, std::string* err) {
    if (fs_hook_refuses(path, err)) return false;
    std::wstring w = wide_path_z(path);
    DWORD attrs = GetFileAttributesW(w.c_str());
    // A link to a folder is a folder entry itself: it goes with RemoveDirectoryW.
    if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY) &&
        (attrs & FILE_ATTRIBUTE_REPARSE_POINT)) {
        if (!RemoveDirectoryW(w.c_str())) return fail_last(err);
        return true;
    }
    if (DeleteFileW(w.c_str())) return true;
    // A read-only file loses that attribute first, as in fs_remove_tree.
    DWORD code = GetLastError();
    if (code == ERROR_ACCESS_DENIED && attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_READONLY) &&
        SetFileAttributesW(w.c_str(), attrs & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY))) {
        if (DeleteFileW(w.c_str())) return true;
        code = GetLastError();
    }
    return fail(err, code);
}

bool fs_remove_dir(std::string_view path, std::string* err) {
    if (fs_hook_refuses(path, err)) return false;
    if (!RemoveDirectoryW(wide_path_z(path).c_str())) return fail_last(err);
    return true;
}

bool fs_remove_tree(std::string_view path, std::string* err) {
    if (fs_hook_refuses(path, err)) return false;
    std::string p(path);
    size_t root = root_length(p);
    while (p.size() > root && is_sep(p.back())) p.pop_back();
    DWORD attrs = GetFileAttributesW(wide_path_z(p).c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES) {
        DWORD code = GetLastError();
        if (is_missing(code)) return true;
        return fail(err, code);
    }
    return remove_entry(p, attrs, err);
}

bool fs_rename(std::string_view from, std::string_view to, std::string* err) {
    if (fs_hook_refuses(from, err) || fs_hook_refuses(to, err)) return false;
    if (!MoveFileExW(wide_path_z(from).c_str(), wide_path_z(to).c_str(), MOVEFILE_REPLACE_EXISTING)) {
        return fail_last(err);
    }
    return true;
}

std::FILE* fs_open_stream(std::string_view path) {
    if (fs_hook_refuses(path, nullptr)) return nullptr;
    return _wfopen(wide_path_z(path).c_str(), L"wb");
}

bool fs_copy_file(std::string_view from, std::string_view to, std::string* err) {
    if (fs_hook_refuses(to, err)) return false;
    if (fs_hook_disk_full(to)) {
        Win_Handle f(CreateFileW(wide_path_z(to).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
        return fail(err, ERROR_DISK_FULL);
    }
    if (!CopyFileW(wide_path_z(from).c_str(), wide_path_z(to).c_str(), FALSE)) return fail_last(err);
    return true;
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
    std::string p(path);
    for (;;) {
        ULARGE_INTEGER avail;
        if (GetDiskFreeSpaceExW(wide_path_z(p).c_str(), &avail, nullptr, nullptr)) {
            bytes = avail.QuadPart;
            return true;
        }
        DWORD code = GetLastError();
        bool missing = is_missing(code) || code == ERROR_DIRECTORY || code == ERROR_INVALID_NAME;
        if (!missing || !to_parent(p)) return fail(err, code);
    }
}

bool fs_set_read_only(std::string_view path, bool read_only, std::string* err) {
    if (fs_hook_refuses(path, err)) return false;
    std::wstring w = wide_path_z(path);
    DWORD attrs = GetFileAttributesW(w.c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES) return fail_last(err);
    attrs = read_only ? attrs | FILE_ATTRIBUTE_READONLY : attrs & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    if (!SetFileAttributesW(w.c_str(), attrs)) return fail_last(err);
    return true;
}

bool fs_set_executable(std::string_view path, std::string* err) { return !fs_hook_refuses(path, err); }

bool fs_make_link(std::string_view target, std::string_view link, bool to_dir, std::string* err) {
    if (fs_hook_refuses(link, err)) return false;
    std::wstring t = wide_z(target);
    for (wchar_t& c : t) {
        if (c == L'/') c = L'\\';
    }
    std::wstring l = wide_path_z(link);
    DWORD flags = to_dir ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0;
    // Without administrator rights a link needs developer mode and this flag;
    // systems that do not know the flag refuse it as a wrong parameter.
    const DWORD allow_unprivileged = 0x2;
    bool made = CreateSymbolicLinkW(l.c_str(), t.c_str(), flags | allow_unprivileged) != FALSE;
    DWORD code = made ? ERROR_SUCCESS : GetLastError();
    if (!made && code == ERROR_INVALID_PARAMETER) {
        made = CreateSymbolicLinkW(l.c_str(), t.c_str(), flags) != FALSE;
        code = made ? ERROR_SUCCESS : GetLastError();
    }
    if (!made) return fail(err, code);
    // Some compatibility layers answer success without making anything.
    DWORD attrs = GetFileAttributesW(l.c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES || !(attrs & FILE_ATTRIBUTE_REPARSE_POINT)) {
        if (err) *err = "the system made no link";
        return false;
    }
    return true;
}

bool fs_truncate(std::string_view path, uint64_t size, std::string* err) {
    if (fs_hook_refuses(path, err)) return false;
    HANDLE h = CreateFileW(wide_path_z(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return fail_last(err);
    BY_HANDLE_FILE_INFORMATION info{};
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(size);
    bool ok = GetFileInformationByHandle(h, &info) != FALSE;
    DWORD code = ok ? ERROR_SUCCESS : GetLastError();
    if (ok && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        ok = false;
        code = ERROR_CANT_ACCESS_FILE;
    }
    if (ok && !(SetFilePointerEx(h, at, nullptr, FILE_BEGIN) && SetEndOfFile(h))) {
        ok = false;
        code = GetLastError();
    }
    CloseHandle(h);
    if (!ok) return fail(err, code);
    return true;
}

bool fs_set_mtime(std::string_view path, int64_t mtime_ns, std::string* err) {
    if (fs_hook_refuses(path, err)) return false;
    HANDLE h = CreateFileW(wide_path_z(path).c_str(), FILE_WRITE_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return fail_last(err);
    uint64_t t = static_cast<uint64_t>(mtime_ns / 100 + 116444736000000000LL);
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(t);
    ft.dwHighDateTime = static_cast<DWORD>(t >> 32);
    bool ok = SetFileTime(h, nullptr, nullptr, &ft) != FALSE;
    DWORD code = ok ? ERROR_SUCCESS : GetLastError();
    CloseHandle(h);
    if (!ok) return fail(err, code);
    return true;
}
