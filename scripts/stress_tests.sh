#!/usr/bin/env bash
# Runs the display tests (CTest label "display": window, render and interface
# tests) of a build again and again while busy loops keep the processors
# full at the tests' own priority, and prints how often each test failed.
# A test that passes here does not depend on how fast the machine is.
#   stress_tests.sh BUILD_DIR RUNS LOOPS_PER_CORE [CPUS]
# CPUS is a processor list as taskset takes it ("0,1", "2-5"): the busy
# loops and the tests are both kept on those processors, so that a shared
# machine stays usable. Without it every processor gets its loops.
# The output of every failed run is kept in BUILD_DIR/stress-logs.
set -uo pipefail
if [ $# -lt 3 ] || [ $# -gt 4 ]; then
  echo "usage: stress_tests.sh BUILD_DIR RUNS LOOPS_PER_CORE [CPUS]" >&2
  exit 2
fi
build=$(cd "$1" && pwd) || exit 2
runs=$2
loops_per_core=$3
cpus=${4:-}
case "$runs$loops_per_core" in *[!0-9]*)
  echo "stress_tests.sh: RUNS and LOOPS_PER_CORE are whole numbers" >&2
  exit 2 ;;
esac

# The processors in use and the command prefix that keeps a process on them.
pin=()
if [ -n "$cpus" ]; then
  if ! command -v taskset >/dev/null 2>&1; then
    echo "stress_tests.sh: taskset is not installed (util-linux)" >&2
    exit 2
  fi
  pin=(taskset -c "$cpus")
  cores=$("${pin[@]}" nproc) || { echo "stress_tests.sh: not a processor list: $cpus" >&2; exit 2; }
else
  cores=$(nproc)
fi

tests=$(ctest --test-dir "$build" -N -L '^display$' | sed -nE 's/^ *Test +#[0-9]+: +([^ ]+).*/\1/p')
if [ -z "$tests" ]; then
  echo "stress_tests.sh: $build has no tests labelled display" >&2
  exit 2
fi

loop_pids=()
stop_loops() {
  local pid
  for pid in ${loop_pids[@]+"${loop_pids[@]}"}; do kill "$pid" 2>/dev/null; done
  for pid in ${loop_pids[@]+"${loop_pids[@]}"}; do wait "$pid" 2>/dev/null; done
  loop_pids=()
}
trap stop_loops EXIT
trap 'exit 130' INT TERM
busy=$((loops_per_core * cores))
for _ in $(seq 1 "$busy"); do
  ${pin[@]+"${pin[@]}"} bash -c 'while :; do :; done' &
  loop_pids+=($!)
done
echo "stress: $runs runs of the display tests of $build on $cores processor(s)${cpus:+ ($cpus)}" \
     "beside $busy busy loops"

logs="$build/stress-logs"
rm -rf "$logs"
mkdir -p "$logs"
declare -A failures=()
failed_runs=0
for run in $(seq 1 "$runs"); do
  log="$logs/run-$run.log"
  start=$(date +%s)
  ${pin[@]+"${pin[@]}"} env ASAN_OPTIONS=detect_leaks=1 \
    ctest --test-dir "$build" -L '^display$' -j "$cores" --output-on-failure >"$log" 2>&1
  rc=$?
  # The names under "The following tests FAILED:", e.g. "  12 - test_x (Failed)".
  failed=$(sed -n '/^The following tests FAILED:/,$p' "$log" | sed -nE 's/^[[:space:]]+[0-9]+ - ([^ ]+) .*/\1/p')
  if [ "$rc" -ne 0 ] && [ -z "$failed" ]; then
    failed="ctest-exit-$rc"
  fi
  if [ -n "$failed" ]; then
    failed_runs=$((failed_runs + 1))
    for t in $failed; do failures[$t]=$(( ${failures[$t]:-0} + 1 )); done
    echo "run $run: failed: $(echo $failed) ($(( $(date +%s) - start )) s; log $log)"
  else
    rm -f "$log"
    echo "run $run: passed ($(( $(date +%s) - start )) s)"
  fi
done
stop_loops

echo "stress: failures per test in $runs runs:"
for t in $tests; do
  printf '  %-32s %d\n' "$t" "${failures[$t]:-0}"
done
for t in "${!failures[@]}"; do
  case " $(echo $tests) " in *" $t "*) ;; *) printf '  %-32s %d\n' "$t" "${failures[$t]}" ;; esac
done
echo "stress: $failed_runs of $runs runs had a failure"
[ "$failed_runs" -eq 0 ]
