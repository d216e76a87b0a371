// A console program for the child-process tests. Its arguments are a list of
// commands run in order:
//   print TEXT          TEXT and "\n"
//   raw TEXT            TEXT with \r and \n (two characters) turned into CR and LF
//   sleep MS            pause
//   progress TAG N MS   "TAG 1%\r" ... "TAG N%\r", MS apart, then "TAG done\n"
//   burst MS            a line every 5 ms for MS ms, without a pause
//   ticks N MS          N lines "tick K", MS apart
//   flood MB            MB megabytes of numbered lines "line K" padded with
//                       dots to 100 bytes, then one line of MB * 100000 "y"
//                       without a break (no newline at the end)
//   env NAME            "NAME=" and the variable's value
//   spawn FILE MS       starts this program with "mark FILE MS" sharing this
//                       program's standard output, and does not wait for it
//   mark FILE MS        appends one byte to FILE every 50 ms for MS ms, or
//                       until a file FILE.stop exists
//   spawn-loud FILE MS  the same with "mark-loud", which also prints "tick"
//                       each time
//   close               closes standard output and error (and goes on)
//   exit CODE           ends with that exit code (decimal or 0x hexadecimal)
//   signal              ends by SIGTERM (not on Windows)
//   fds                 the numbers of this program's open descriptors, one a
//                       line (Linux only)
//   argv ARGS...        "[arg]\n" for each of the remaining arguments
// Output is binary and unbuffered, so the parent reads exactly these bytes.
// With QM_TEST_CHILD_HOLD_MS set it first pauses that long, whatever its
// arguments: a copy under another program's name (a stand-in for a tool the
// code under test runs by name) then keeps that code waiting.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <io.h>        // _setmode
#include <process.h>   // _spawnv
#endif

namespace {

void out(const std::string& s) { std::fwrite(s.data(), 1, s.size(), stdout); }

void pause_ms(long long ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

long long number(const char* s) { return std::strtoll(s, nullptr, 0); }

std::string unescape(const std::string& s) {
    std::string r;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size() && (s[i + 1] == 'r' || s[i + 1] == 'n')) {
            r.push_back(s[i + 1] == 'r' ? '\r' : '\n');
            ++i;
        } else {
            r.push_back(s[i]);
        }
    }
    return r;
}

void mark(const char* file, long long ms, bool loud) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    const std::filesystem::path stop = std::string(file) + ".stop";
    std::error_code ec;
    while (std::chrono::steady_clock::now() < end && !std::filesystem::exists(stop, ec)) {
        std::ofstream(file, std::ios::app | std::ios::binary) << 'x';
        if (loud) out("tick\n");
        pause_ms(50);
    }
}

// Starts "self MODE FILE MS" with this program's standard output and error.
void spawn(const char* self, const char* mode, const char* file, const char* ms) {
#ifdef _WIN32
    // _spawnv joins the arguments with blanks as they are.
    auto quoted = [](const std::string& a) { return a.find(' ') == std::string::npos ? a : "\"" + a + "\""; };
    std::string a0 = quoted(self), a2 = quoted(file);
    const char* argv[] = {a0.c_str(), mode, a2.c_str(), ms, nullptr};
    if (_spawnv(_P_NOWAIT, self, argv) == -1) {
        std::fprintf(stderr, "spawn failed\n");
        std::exit(3);
    }
#else
    // The shell's background job stays in this program's process group.
    std::string cmd = "'" + std::string(self) + "' " + mode + " '" + file + "' " + ms + " &";
    if (std::system(cmd.c_str()) != 0) {
        std::fprintf(stderr, "spawn failed\n");
        std::exit(3);
    }
#endif
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    _setmode(1, 0x8000);   // _O_BINARY
    _setmode(2, 0x8000);
#endif
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    if (const char* hold = std::getenv("QM_TEST_CHILD_HOLD_MS")) {
        pause_ms(number(hold));
        return 0;
    }
    for (int i = 1; i < argc; ++i) {
        std::string cmd = argv[i];
        auto arg = [&](int k) -> const char* {
            if (i + k >= argc) {
                std::fprintf(stderr, "%s: missing argument\n", cmd.c_str());
                std::exit(2);
            }
            return argv[i + k];
        };
        if (cmd == "print") {
            out(std::string(arg(1)) + "\n");
            i += 1;
        } else if (cmd == "raw") {
            out(unescape(arg(1)));
            i += 1;
        } else if (cmd == "sleep") {
            pause_ms(number(arg(1)));
            i += 1;
        } else if (cmd == "progress") {
            std::string tag = arg(1);
            long long n = number(arg(2)), ms = number(arg(3));
            for (long long k = 1; k <= n; ++k) {
                out(tag + " " + std::to_string(k) + "%\r");
                pause_ms(ms);
            }
            out(tag + " done\n");
            i += 3;
        } else if (cmd == "burst") {
            auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(number(arg(1)));
            for (int k = 0; std::chrono::steady_clock::now() < end; ++k) {
                out("burst " + std::to_string(k) + "\n");
                pause_ms(5);
            }
            i += 1;
        } else if (cmd == "ticks") {
            long long n = number(arg(1)), ms = number(arg(2));
            for (long long k = 1; k <= n; ++k) {
                out("tick " + std::to_string(k) + "\n");
                pause_ms(ms);
            }
            i += 2;
        } else if (cmd == "flood") {
            long long mb = number(arg(1));
            std::string chunk;
            for (long long k = 0; k < mb * 10000; ++k) {
                std::string l = "line " + std::to_string(k);
                l.resize(99, '.');
                chunk += l + "\n";
                if (chunk.size() >= 65536) {
                    out(chunk);
                    chunk.clear();
                }
            }
            out(chunk);
            out(std::string(size_t(mb) * 100000, 'y'));
            i += 1;
        } else if (cmd == "env") {
            const char* v = std::getenv(arg(1));
            out(std::string(arg(1)) + "=" + (v ? v : "") + "\n");
            i += 1;
        } else if (cmd == "spawn" || cmd == "spawn-loud") {
            spawn(argv[0], cmd == "spawn" ? "mark" : "mark-loud", arg(1), arg(2));
            i += 2;
        } else if (cmd == "mark" || cmd == "mark-loud") {
            mark(arg(1), number(arg(2)), cmd == "mark-loud");
            i += 2;
        } else if (cmd == "close") {
            std::fclose(stdout);
            std::fclose(stderr);
        } else if (cmd == "exit") {
            std::exit(static_cast<int>(static_cast<unsigned long>(std::strtoull(arg(1), nullptr, 0))));
        } else if (cmd == "signal") {
            std::raise(SIGTERM);
            pause_ms(5000);
        } else if (cmd == "fds") {
#ifndef _WIN32
            std::vector<long long> fds;
            std::error_code ec;
            for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
                fds.push_back(number(e.path().filename().string().c_str()));
            }
            std::sort(fds.begin(), fds.end());
            for (long long fd : fds) out(std::to_string(fd) + "\n");
#endif
        } else if (cmd == "argv") {
            for (int k = i + 1; k < argc; ++k) out("[" + std::string(argv[k]) + "]\n");
            break;
        } else {
            std::fprintf(stderr, "unknown command %s\n", cmd.c_str());
            return 2;
        }
    }
    return 0;
}
