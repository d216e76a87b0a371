// The targets of a cross build and the build request.
#pragma once
#include <string>
#include <vector>

struct Cross_Cpu {
    const char* cpu;
    const char* label;
};

struct Cross_Target {
    const char* name;
    const char* label;
    const char* triple;
    std::vector<Cross_Cpu> cpus;   // the first is the default
    const char* description;
    bool android;
};

extern const Cross_Target cross_targets[2];

// What the game build is told. A request without target is "this computer".
struct Build_Spec {
    const Cross_Target* target = nullptr;
    std::string compiler;
    std::string linker;
    std::string cpu;
    std::string sysroot;
    std::string ffmpeg;
    std::string obj_dir;
    std::string out_dir;
};
