#!/usr/bin/env bash
# Checks the folders' layering (scripts/check_layers.py), builds both targets
# and runs every test: Linux, Linux with ASan/UBSan, the Windows build under
# wine, and a brief run of the fuzz targets. The Windows build's libcrypto
# and the fuzz build run behind the other stages at the lowest priority.
# Every stage runs even when an earlier one failed; the run ends with one
# line per stage (its CTest summary, the fuzz result, or why the stage could
# not run) and exits non-zero when any stage failed.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=$(nproc)

# Each stage's line in the summary ends with the seconds the stage took.
stage_started=$SECONDS
step() { printf '\n=== %s ===\n' "$*"; stage_started=$SECONDS; }

# One line per stage for the closing summary, and whether any stage failed.
summary=()
failed=0
report() {   # report NAME OK|FAILED|NOT_RUN TEXT
  summary+=("$(printf '%-22s %-8s %s (%d s)' "$1:" "$2" "$3" $((SECONDS - stage_started)))")
  [ "$2" = FAILED ] && failed=1
  return 0
}

logs="$root/build/test-logs"
mkdir -p "$logs"

step "Set-up"
if bash scripts/setup.sh packages; then
  report "Set-up" OK "the packages are in place"
else
  report "Set-up" FAILED "scripts/setup.sh failed; the stages below run with what is installed"
fi

# Work that needs only the processors' idle moments runs behind the stages at
# the lowest priority: the Windows build's libcrypto from now on, and the
# fuzz targets' build beside the wine tests, which leave most of the
# processors idle.
nice -n 19 bash scripts/setup.sh libcrypto >"$logs/libcrypto.log" 2>&1 &
libcrypto_pid=$!
fuzz_build_pid=""
shm_tmp=""
# A run that is stopped stops its background work with it.
trap '[ -z "$shm_tmp" ] || rm -rf "$shm_tmp"; kill $(jobs -p) 2>/dev/null || true' EXIT

# The folders' layering, read from the include lines: seconds, before any build.
step "Layers"
if python3 scripts/check_layers.py 2>&1 | tee "$logs/layers.log"; then
  report "Layers" OK "$(tail -n 1 "$logs/layers.log")"
else
  report "Layers" FAILED "$(tail -n 1 "$logs/layers.log")"
fi

# The Linux tests' temporary folders go to memory when the machine has room
# there (4 GiB free): every settings save is synced to disk, and on a disk
# those waits, with the threads a test runs meanwhile, were most of some
# tests' time. Only the Linux runs get it: under wine a Unix TMPDIR would be
# taken for a Windows path.
test_tmp=()
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ] &&
   [ "$(df -Pk /dev/shm | awk 'NR == 2 {print $4}')" -ge $((4 * 1024 * 1024)) ]; then
  shm_tmp=$(mktemp -d /dev/shm/qm-test.XXXXXX)
  test_tmp=(env "TMPDIR=$shm_tmp")
fi

# Display tests skip themselves without Xvfb; the stage's line says so.
no_display=""
command -v Xvfb >/dev/null 2>&1 || no_display=" (no Xvfb: the display tests were skipped)"

# The line CTest ends a run with, "N% tests passed, M tests failed out of K",
# from a stage's log; empty when the run never got that far.
ctest_line() { grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$1" | tail -n 1; }

# stage_result NAME EXIT_CODE LINE MISSING: reports a stage by its command's
# exit code and its summary line; MISSING says why when there is no line.
stage_result() {
  if [ -z "$3" ]; then
    report "$1" FAILED "$4"
  elif [ "$2" -ne 0 ]; then
    report "$1" FAILED "$3"
  else
    report "$1" OK "$3"
  fi
}

# ctest_stage NAME LOG COMMAND...: runs a CTest run, keeps its output in LOG
# and reports its summary line.
ctest_stage() {
  local name=$1 log=$2 line
  shift 2
  "$@" 2>&1 | tee "$log"
  local rc=${PIPESTATUS[0]}
  line=$(ctest_line "$log")
  stage_result "$name" "$rc" "${line:+$line$no_display}" \
    "the tests did not run to their end (exit code $rc; log $log)"
}

# build_preset NAME PRESET: configures and builds one preset; reports the
# stage as failed when either step fails.
build_preset() {
  if ! cmake --preset "$2" >/dev/null || ! cmake --build --preset "$2" -j "$jobs"; then
    report "$1" FAILED "the build failed (preset $2); its tests did not run"
    return 1
  fi
}

step "Linux"
if build_preset "Linux" linux; then
  ctest_stage "Linux" "$logs/linux.log" ${test_tmp[@]+"${test_tmp[@]}"} ctest --preset linux -j "$jobs"
fi

step "Linux with ASan and UBSan"
if build_preset "Linux ASan+UBSan" linux-asan; then
  ctest_stage "Linux ASan+UBSan" "$logs/linux-asan.log" ${test_tmp[@]+"${test_tmp[@]}"} \
    env ASAN_OPTIONS=detect_leaks=1 ctest --preset linux-asan -j "$jobs"
fi

step "Windows (mingw-w64), tests under wine"
windows_built=0
if ! wait "$libcrypto_pid"; then
  tail -n 30 "$logs/libcrypto.log"
  report "Windows under wine" FAILED "libcrypto for mingw-w64 could not be built (log $logs/libcrypto.log); the Windows build did not run"
elif build_preset "Windows under wine" windows; then
  windows_built=1
fi
# The fuzz build fills the time the wine tests leave idle. It takes the Linux
# build's bundle as a seed when there is one.
QM_JOBS=$jobs nice -n 19 bash scripts/fuzz_smoke.sh build >"$logs/fuzz-build.log" 2>&1 &
fuzz_build_pid=$!
if [ "$windows_built" = 1 ]; then
  imports_ok=1
  bash scripts/check_pe_imports.sh build/windows || imports_ok=0
  if ! command -v wine >/dev/null 2>&1; then
    if [ "$imports_ok" = 1 ]; then
      report "Windows under wine" NOT_RUN "built; the tests could not run: wine is not installed"
    else
      report "Windows under wine" FAILED "an executable imports a DLL Windows does not have; no wine to run the tests"
    fi
  else
    # Under wine the tests mostly wait (process starts, the wineserver): twice
    # as many run at once as there are processors.
    ctest_stage "Windows under wine" "$logs/windows.log" bash scripts/wine_ctest.sh build/windows -j "$((jobs * 2))"
    if [ "$imports_ok" = 0 ]; then
      report "Windows PE imports" FAILED "an executable imports a DLL Windows does not have (see above)"
    fi
  fi
fi

step "Fuzz targets (brief)"
if ! wait "$fuzz_build_pid"; then
  tail -n 30 "$logs/fuzz-build.log"
  report "Fuzz smoke" FAILED "the fuzz targets did not build (log $logs/fuzz-build.log)"
else
  QM_JOBS=$jobs bash scripts/fuzz_smoke.sh run 2>&1 | tee "$logs/fuzz.log"
  fuzz_rc=${PIPESTATUS[0]}
  fuzz_line=$(grep -E '^fuzz: [0-9]+ targets' "$logs/fuzz.log" | tail -n 1)
  stage_result "Fuzz smoke" "$fuzz_rc" "${fuzz_line#fuzz: }" \
    "the fuzz targets did not run (exit code $fuzz_rc; log $logs/fuzz.log)"
fi

if [ "$failed" -ne 0 ]; then
  step "Summary: FAILED"
else
  step "Summary: every stage passed"
fi
printf '%s\n' "${summary[@]}"
echo "All stages: $SECONDS s"
exit "$failed"
