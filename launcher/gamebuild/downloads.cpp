#include "launcher/gamebuild/downloads.h"

#include <openssl/evp.h>

#include <memory>
#include <mutex>
#include <vector>

#include "engine/kt_system/child.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/core/child_run.h"
#include "launcher/core/format.h"
#include "launcher/core/parse_int.h"
#include "launcher/core/task.h"

static constexpr std::string_view shipped_site = "https://github.com";
static constexpr int shipped_stall_seconds = 60;
// curl's own code for a transfer that was too slow (or timed out).
static constexpr int64_t curl_exit_too_slow = 28;
// curl's own code for a file larger than --max-filesize.
static constexpr int64_t curl_exit_too_large = 63;

static std::mutex g_site_lock;
static std::string g_site;
static int g_stall_seconds = 0;

std::string upscaler_site() {
    std::lock_guard<std::mutex> guard(g_site_lock);
    return g_site.empty() ? std::string(shipped_site) : g_site;
}

void upscaler_set_site(std::string_view url) {
    std::lock_guard<std::mutex> guard(g_site_lock);
    g_site = std::string(url);
    while (!g_site.empty() && g_site.back() == '/') g_site.pop_back();
}

void upscaler_set_stall_seconds(int seconds) {
    std::lock_guard<std::mutex> guard(g_site_lock);
    g_stall_seconds = seconds;
}

static int stall_seconds() {
    std::lock_guard<std::mutex> guard(g_site_lock);
    return g_stall_seconds > 0 ? g_stall_seconds : shipped_stall_seconds;
}

// Hex digits of a finished digest.
static std::string hex_of(const unsigned char* digest, unsigned int length) {
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (unsigned int i = 0; i < length; i++) {
        out.push_back(hex[digest[i] >> 4]);
        out.push_back(hex[digest[i] & 15]);
    }
    return out;
}

std::string sha256_hex(std::string_view bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr)) return "";
    return hex_of(digest, length);
}

bool file_matches(std::string_view path, int64_t size, std::string_view sha256) {
    // The size first, so that a wrong file is never hashed; then the bytes
    // a piece at a time, so that a large file never sits whole in memory.
    File_Info info;
    if (size < 0 || !fs_stat(path, info) || info.is_dir || info.is_link || info.size != uint64_t(size)) return false;
    std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!ctx || !EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr)) return false;
    constexpr size_t piece = size_t(1) << 20;
    std::string bytes;
    uint64_t done = 0;
    for (;;) {
        if (!fs_read_at(path, done, piece, bytes)) return false;
        if (bytes.empty()) break;
        done += bytes.size();
        // A file that grew after the size was taken is not the one checked.
        if (done > uint64_t(size)) return false;
        if (!EVP_DigestUpdate(ctx.get(), bytes.data(), bytes.size())) return false;
    }
    if (done != uint64_t(size)) return false;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!EVP_DigestFinal_ex(ctx.get(), digest, &length)) return false;
    return hex_of(digest, length) == sha256;
}

std::string find_curl() {
    std::string curl = find_program("curl");
    if (curl.empty()) curl = find_program("C:\\Windows\\System32\\curl.exe");
    return curl;
}

namespace {

// Runs curl with the file's bytes coming through its output pipe into
// `part`, so that no more than `size` + 1 bytes ever reach the disk: curl's
// own --max-filesize holds only when the server announces the size, not for
// a chunked reply. curl's messages go to `errors`, logged at the end.
Download_Result fetch_bounded(Task& task, const std::vector<std::string>& args, const std::string& part,
                              const std::string& errors, int64_t size, int64_t& exit_code) {
    exit_code = -1;
    std::string why;
    Child* c = child_start(args, "", nullptr, &why);
    if (!c) {
        logf(task, "Could not start %s: %s", args[0], why);
        return Download_Result::Failed;
    }
    task_add_child(task, c);
    std::FILE* out = fs_open_write(part);
    bool written = out != nullptr, too_large = false;
    uint64_t got = 0;
    std::vector<char> buf(size_t(64) << 10);
    for (;;) {
        if (!child_look(c, 200)) continue;
        int64_t n = child_read(c, buf.data(), buf.size());
        if (n <= 0) break;
        got += uint64_t(n);
        if (got > uint64_t(size)) {
            too_large = true;
            child_terminate(c, 1);
            break;
        }
        if (written && std::fwrite(buf.data(), 1, size_t(n), out) != size_t(n)) written = false;
    }
    if (out && std::fclose(out) != 0) written = false;
    child_close_output(c);
    uint32_t code = 0;
    child_wait(c, -1, code);
    task_remove_child(task, c);
    child_close(c);
    exit_code = int64_t(code);
    std::string text;
    if (fs_read(errors, text, nullptr, child_capture_limit)) {
        for (std::string_view line : split_at(text, '\n')) {
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
            if (!line.empty()) log_line(task, line);
        }
    }
    if (too_large) return Download_Result::Too_Large;
    if (exit_code == 0 && !written) return Download_Result::Cannot_Write;
    return Download_Result::Ok;
}

}  // namespace

Download_Result download_checked(Task& task, std::string_view curl, std::string_view url, std::string_view path,
                                 int64_t size, std::string_view sha256) {
    fs_make_dirs(path_dir(path));
    std::string part = std::string(path) + ".part";
    std::string errors = part + ".errors";
    fs_remove_file(part);
    std::vector<std::string> args = {
        std::string(curl), "-L", "--fail", "--silent", "--show-error", "--retry", "3",
        // A transfer that brings no byte for the stall limit ends instead of
        // hanging until the player cancels.
        "--speed-limit", "1", "--speed-time", fmt("%d", stall_seconds()),
        // A server that announces a larger file is refused at its headers.
        "--max-filesize", fmt("%d", size),
        "--stderr", errors, "-o", "-", std::string(url),
    };
    int64_t exit_code = -1;
    Download_Result r = fetch_bounded(task, args, part, errors, size, exit_code);
    fs_remove_file(errors);
    if (task.cancel.load() || r != Download_Result::Ok || exit_code != 0) {
        fs_remove_file(part);
        if (r != Download_Result::Ok) return r;
        if (exit_code == curl_exit_too_slow) return Download_Result::Stalled;
        if (exit_code == curl_exit_too_large) return Download_Result::Too_Large;
        return Download_Result::Failed;
    }
    if (!file_matches(part, size, sha256)) {
        fs_remove_file(part);
        return Download_Result::Not_Expected;
    }
    // Renamed over the old file in one step: a failure leaves it as it was.
    if (!fs_rename(part, path)) {
        fs_remove_file(part);
        return Download_Result::Cannot_Write;
    }
    return Download_Result::Ok;
}

bool download_reported(Task& task, Download_Result r, std::string_view who, std::string_view name,
                       std::string_view path) {
    switch (r) {
    case Download_Result::Ok: return true;
    case Download_Result::Failed: logf(task, "%s: downloading %s failed.", who, name); break;
    case Download_Result::Stalled: logf(task, "%s: downloading %s stalled (no data for a minute).", who, name); break;
    case Download_Result::Too_Large:
        logf(task, "%s: %s is larger than the file expected: its download was stopped and nothing kept.", who, name);
        break;
    case Download_Result::Not_Expected:
        logf(task, "%s: %s is not the file expected (its size or SHA-256 differs): not used.", who, name);
        break;
    case Download_Result::Cannot_Write: logf(task, "%s: cannot write %s.", who, path); break;
    }
    return false;
}
