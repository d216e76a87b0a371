#!/usr/bin/env bash
# Builds both targets and runs every test: Linux, Linux with ASan/UBSan, and
# the Windows build under wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=$(nproc)

bash scripts/setup.sh

step() { printf '\n=== %s ===\n' "$*"; }

# The Linux tests run once, in the sanitizer build below: every check of a
# plain run holds there too, with memory and undefined-behaviour errors
# fatal. The optimised build still compiles the launcher, its tools and the
# benchmarks with warnings as errors, as the main job builds them.
step "Linux"
cmake --preset linux -DQM_TESTS=OFF >/dev/null
cmake --build --preset linux -j "$jobs"

step "Linux with ASan and UBSan"
cmake --preset linux-asan >/dev/null
cmake --build --preset linux-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 ctest --preset linux-asan -j "$jobs"

step "Windows (mingw-w64), tests under wine"
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"
bash scripts/check_pe_imports.sh build/windows
bash scripts/wine_ctest.sh build/windows -j "$jobs"

if [ -f scripts/fuzz_smoke.sh ]; then
  step "Fuzz targets (brief)"
  bash scripts/fuzz_smoke.sh
fi
