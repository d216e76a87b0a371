#!/usr/bin/env bash
# Runs a command with DISPLAY set to an X server of its own: a fresh Xvfb on
# a display number it picks itself (-displayfd), stopped afterwards, so that
# several runs on one machine never meet. Exits 77 (CTest: skipped) when
# Xvfb is not installed.
# The server keeps its state (keyboard mapping, root window) while no client
# is connected (-noreset): without it, it resets whenever its last client
# leaves, and a program that connects in that moment is refused.
# Inside another with_xvfb.sh (QM_XVFB_DISPLAY is DISPLAY) the outer server
# is used as it is. The screen holds the launcher's window at twice its size
# (192 DPI): wine keeps windows within the screen.
#   with_xvfb.sh COMMAND [ARGS...]
set -u
if [ -n "${QM_XVFB_DISPLAY:-}" ] && [ "${QM_XVFB_DISPLAY}" = "${DISPLAY:-}" ]; then
  exec "$@"
fi
if ! command -v Xvfb >/dev/null 2>&1; then
  echo "skipped: Xvfb is not installed"
  exit 77
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
Xvfb -displayfd 3 -screen 0 2560x1600x24 -nolisten tcp -noreset 3>"$tmp/display" 2>"$tmp/xvfb.log" &
xvfb=$!
# Waits for the server to say its display number, for two minutes at most: a
# guard against a server that hangs, long enough for a busy machine.
for _ in $(seq 1 2400); do
  [ -s "$tmp/display" ] && break
  kill -0 "$xvfb" 2>/dev/null || break
  sleep 0.05
done
if [ ! -s "$tmp/display" ]; then
  echo "with_xvfb: Xvfb did not start:" >&2
  cat "$tmp/xvfb.log" >&2
  kill "$xvfb" 2>/dev/null
  exit 1
fi
export DISPLAY=":$(tr -d '[:space:]' <"$tmp/display")"
export QM_XVFB_DISPLAY=$DISPLAY
"$@"
rc=$?
kill "$xvfb" 2>/dev/null
wait "$xvfb" 2>/dev/null
exit $rc
