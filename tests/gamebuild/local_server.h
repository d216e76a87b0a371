// A web server on this machine for the download tests: python's http.server
// over a folder, or a script of the test's own, started through the shell
// and stopped by its process id. Linux only.
#pragma once
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/core/format.h"
#include "launcher/core/parse_int.h"

struct Local_Server {
    std::string log_path, pid_path;
    int64_t pid = 0;
    int64_t port = 0;

    // Serves `root` (or runs `script`, which prints its port the same way)
    // on 127.0.0.1 at a port the system picks. `work` holds the log.
    bool start(const std::string& root, const std::string& work, const std::string& script = "") {
        log_path = path_join({work, "server.log"});
        pid_path = path_join({work, "server.pid"});
        std::string command = script.empty()
            ? fmt("python3 -u -m http.server --bind 127.0.0.1 --directory '%s' 0", root)
            : fmt("python3 -u '%s'", script);
        std::string line = fmt("%s >> '%s' 2>&1 < /dev/null & echo $! > '%s'", command, log_path, pid_path);
        if (std::system(line.c_str()) != 0) return false;
        std::string text;
        if (!fs_read(pid_path, text) || !parse_int(text, pid)) return false;
        for (int i = 0; i < 1200 && port == 0; i++) {  // up to a minute on a busy machine
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            fs_read(log_path, text);
            size_t at = text.find(" port ");
            if (at == std::string::npos) continue;
            size_t end = text.find_first_not_of("0123456789", at + 6);
            parse_int(std::string_view(text).substr(at + 6, end - (at + 6)), port);
        }
        return port != 0;
    }
    std::string site() const { return fmt("http://127.0.0.1:%d", port); }
    // The paths of the GET requests so far, in order.
    std::vector<std::string> requests() const {
        std::string text;
        fs_read(log_path, text);
        std::vector<std::string> out;
        for (std::string_view line : split_at(text, '\n')) {
            size_t at = line.find("\"GET ");
            if (at == std::string_view::npos) continue;
            size_t end = line.find(" HTTP/", at);
            out.emplace_back(line.substr(at + 5, end - (at + 5)));
        }
        return out;
    }
    void stop() {
        if (pid <= 0) return;
        std::system(fmt("kill %d 2>/dev/null", pid).c_str());
        pid = 0;
    }
    ~Local_Server() { stop(); }
};
