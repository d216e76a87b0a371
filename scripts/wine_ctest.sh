#!/usr/bin/env bash
# Runs the Windows build's tests under wine: a prefix of its own inside the
# build folder, a persistent wineserver detached from the terminal, and the
# crash debugger off (with it a crashing test would exit 0).
set -euo pipefail
# The whole run shares one X server of its own when Xvfb is there: the first
# process that makes a window starts wine's desktop on its display, and every
# later window of the run lives on that desktop.
if [ -z "${QM_XVFB_DISPLAY:-}" ] && command -v Xvfb >/dev/null 2>&1; then
  exec bash "$(dirname "$0")/with_xvfb.sh" bash "$0" "$@"
fi
build=$(cd "$1" && pwd); shift
export WINEPREFIX="$build/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="winedbg.exe=d;mscoree=d;mshtml=d"
export WINEARCH=win64
mkdir -p "$WINEPREFIX"
wineserver -p </dev/null >/dev/null 2>&1 &
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
wine wineboot -i </dev/null >/dev/null 2>&1 || true
ctest --test-dir "$build" --output-on-failure --no-tests=error "$@"
