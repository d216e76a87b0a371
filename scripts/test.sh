#!/usr/bin/env bash
# Builds both targets and runs every test: Linux, Linux with ASan/UBSan, and
# the Windows build under wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=$(nproc)

bash scripts/setup.sh

step() { printf '\n=== %s ===\n' "$*"; }

step "Linux"
cmake --preset linux >/dev/null
cmake --build --preset linux -j "$jobs"
ctest --preset linux -j "$jobs"

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
