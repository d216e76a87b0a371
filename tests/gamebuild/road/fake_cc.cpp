// A stand-in compiler for the compile worker tests. Called as
//   fake_cc FLAGS... -c SOURCE -o OBJECT
// it reads SOURCE, whose lines may say:
//   fail N     print N error lines and exit 1 (no object)
//   sleep MS   wait before finishing
// and otherwise writes OBJECT holding the flags it was given. Every call is
// recorded in the file named by FAKE_CC_LOG: "start NAME", "stale NAME" when
// OBJECT already existed, "end NAME".
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

std::string base_name(const std::string& path) {
    size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

void record(const std::string& line) {
    const char* log = std::getenv("FAKE_CC_LOG");
    if (!log || !*log) return;
    std::ofstream(log, std::ios::app | std::ios::binary) << line << "\n";
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);   // lines end with LF alone, as on POSIX
#endif
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && args[0] == "--version") {
        std::printf("fake clang version 1.0\n");
        return 0;
    }
    std::string src, obj, flags;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "-c" && i + 1 < args.size()) {
            src = args[++i];
        } else if (args[i] == "-o" && i + 1 < args.size()) {
            obj = args[++i];
        } else {
            flags += args[i] + "\n";
        }
    }
    std::string name = base_name(src);
    record("start " + name);
    if (!obj.empty() && std::ifstream(obj).good()) record("stale " + name);
    std::ifstream in(src, std::ios::binary);
    if (!in) {
        std::printf("%s: no such file\n", src.c_str());
        return 1;
    }
    std::string line;
    int fail = -1;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string word;
        long long n = 0;
        words >> word >> n;
        if (word == "sleep") std::this_thread::sleep_for(std::chrono::milliseconds(n));
        if (word == "fail") fail = int(n);
    }
    if (fail >= 0) {
        for (int i = 1; i <= fail; ++i) std::printf("%s:%d: error: fault %d\n", name.c_str(), i, i);
        std::fflush(stdout);
        record("end " + name);
        return 1;
    }
    std::ofstream(obj, std::ios::binary) << flags;
    record("end " + name);
    return 0;
}
