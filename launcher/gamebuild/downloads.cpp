#include "launcher/gamebuild/downloads.h"

#include <openssl/evp.h>

#include <memory>
#include <mutex>
#include <vector>

#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/core/child_run.h"
#include "launcher/core/format.h"
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

Download_Result download_checked(Task& task, std::string_view curl, std::string_view url, std::string_view path,
                                 int64_t size, std::string_view sha256) {
    fs_make_dirs(path_dir(path));
    std::string part = std::string(path) + ".part";
    fs_remove_file(part);
    std::vector<std::string> args = {
        std::string(curl), "-L", "--fail", "--silent", "--show-error", "--retry", "3",
        // A transfer that brings no byte for the stall limit ends instead of
        // hanging until the player cancels.
        "--speed-limit", "1", "--speed-time", fmt("%d", stall_seconds()),
        // Nothing larger than the expected file is taken: curl stops the
        // transfer instead of filling the disk.
        "--max-filesize", fmt("%d", size),
        "-o", part, std::string(url),
    };
    int64_t exit_code = -1;
    bool started = child_run(task, args, "", Output_Mode::Log, nullptr, {}, 0, &exit_code);
    if (!started || exit_code != 0) {
        fs_remove_file(part);
        if (started && exit_code == curl_exit_too_slow) return Download_Result::Stalled;
        if (started && exit_code == curl_exit_too_large) return Download_Result::Not_Expected;
        return Download_Result::Failed;
    }
    if (!file_matches(part, size, sha256)) {
        fs_remove_file(part);
        return Download_Result::Not_Expected;
    }
    fs_remove_file(path);
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
    case Download_Result::Not_Expected:
        logf(task, "%s: %s is not the file expected (its size or SHA-256 differs): not used.", who, name);
        break;
    case Download_Result::Cannot_Write: logf(task, "%s: cannot write %s.", who, path); break;
    }
    return false;
}
