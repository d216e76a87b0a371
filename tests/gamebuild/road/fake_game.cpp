// A stand-in for the built game in the tests of starting and watching it.
// It writes "ran.txt" (its working folder) into its working folder, waits
// until a file "release" appears there (the tests always write it; ten
// minutes guard against a test that died first), then changes an option
// the way the game's menus do: "Quillmarsh.cfg" gets ZQR_FPS=144 and the
// ZQR_MENU_KEYS line naming it.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

int main() {
    namespace fs = std::filesystem;
    std::ofstream("ran.tmp", std::ios::binary) << fs::current_path().string();
    fs::rename("ran.tmp", "ran.txt");   // whole when it appears
    auto end = std::chrono::steady_clock::now() + std::chrono::minutes(10);
    while (!fs::exists("release") && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::ofstream("cfg.tmp", std::ios::binary) << "# changed in the game\nZQR_FPS=144\nZQR_MENU_KEYS=ZQR_FPS\n";
    fs::rename("cfg.tmp", "Quillmarsh.cfg");   // whole when it appears
    return 0;
}
