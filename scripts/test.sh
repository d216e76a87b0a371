#!/usr/bin/env bash
# Builds both targets and runs every test: Linux, Linux with ASan/UBSan, and
# the Windows build under wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=$(nproc)

bash scripts/setup.sh

step() { printf '\n=== %s ===\n' "$*"; }

# The Linux tests' temporary folders go to memory when the machine has room
# there (4 GiB free): every settings save is synced to disk, and on a disk
# those waits, with the threads a test runs meanwhile, were most of some
# tests' time. Only the Linux runs get it: under wine a Unix TMPDIR would be
# taken for a Windows path.
test_tmp=()
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ] &&
   [ "$(df -Pk /dev/shm | awk 'NR == 2 {print $4}')" -ge $((4 * 1024 * 1024)) ]; then
  shm_tmp=$(mktemp -d /dev/shm/qm-test.XXXXXX)
  trap 'rm -rf "$shm_tmp"' EXIT
  test_tmp=(env "TMPDIR=$shm_tmp")
fi

step "Linux"
cmake --preset linux >/dev/null
cmake --build --preset linux -j "$jobs"
"${test_tmp[@]}" ctest --preset linux -j "$jobs"

step "Linux with ASan and UBSan"
cmake --preset linux-asan >/dev/null
cmake --build --preset linux-asan -j "$jobs"
"${test_tmp[@]}" env ASAN_OPTIONS=detect_leaks=1 ctest --preset linux-asan -j "$jobs"

step "Windows (mingw-w64), tests under wine"
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"
bash scripts/check_pe_imports.sh build/windows
bash scripts/wine_ctest.sh build/windows -j "$jobs"

if [ -f scripts/fuzz_smoke.sh ]; then
  step "Fuzz targets (brief)"
  bash scripts/fuzz_smoke.sh
fi
