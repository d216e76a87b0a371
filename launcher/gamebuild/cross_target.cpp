#include "launcher/gamebuild/cross_target.h"

const Cross_Target cross_targets[2] = {
    {"linux_arm64", "Linux ARM64", "aarch64-linux-gnu",
     {{"generic", "Any ARM64 CPU (Default)"},
      {"cortex-a72", "Raspberry Pi 4 (Cortex-A72)"},
      {"cortex-a76", "Raspberry Pi 5 (Cortex-A76)"},
      {"apple-m1", "Apple M1 / M2 (Asahi Linux)"},
      {"neoverse-n1", "Ampere / Graviton 2 servers"}},
     "64-bit ARM Linux (glibc 2.34 or newer: Debian 12, Ubuntu 22.04, Raspberry Pi OS 12 and later)", false},
    {"android_arm64", "Android ARM64", "aarch64-linux-android29",
     {{"generic", "Any ARM64 phone (Default)"},
      {"cortex-a76", "2019 and later flagships (Cortex-A76)"},
      {"cortex-x1", "2021 and later flagships (Cortex-X1)"}},
     "Android 10 or newer, 64-bit ARM, Vulkan: an APK to install (no cutscenes yet)", true},
};
