#!/usr/bin/env bash
# Runs a command with DISPLAY set to a private Xvfb server, started on a free
# display number and stopped afterwards. Returns the command's exit code.
#
# Usage: scripts/with-xvfb.sh COMMAND [ARGS...]
set -uo pipefail

if [[ $# -lt 1 ]]; then
   echo "usage: $0 COMMAND [ARGS...]" >&2
   exit 2
fi
command -v Xvfb >/dev/null || { echo "with-xvfb: Xvfb not found (package xvfb)" >&2; exit 1; }

tmp="$(mktemp -d "${TMPDIR:-/tmp}/ov-xvfb.XXXXXX")"
xvfb_pid=""
cleanup() {
   if [[ -n "$xvfb_pid" ]] && kill -0 "$xvfb_pid" 2>/dev/null; then
      kill "$xvfb_pid" 2>/dev/null
      wait "$xvfb_pid" 2>/dev/null
   fi
   rm -rf -- "$tmp"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# A display number is free when neither its lock file nor its socket exists.
# Xvfb itself refuses a number in use, so a lost race only costs a retry.
display=""
for n in $(seq 90 189); do
   [[ -e "/tmp/.X$n-lock" || -e "/tmp/.X11-unix/X$n" ]] && continue
   Xvfb ":$n" -nolisten tcp -screen 0 1280x1024x24 </dev/null >"$tmp/xvfb.log" 2>&1 &
   xvfb_pid=$!
   # Ready when the socket appears; gone when Xvfb gave up on this number.
   for _ in $(seq 1 100); do
      [[ -S "/tmp/.X11-unix/X$n" ]] && break
      kill -0 "$xvfb_pid" 2>/dev/null || break
      sleep 0.1
   done
   if [[ -S "/tmp/.X11-unix/X$n" ]] && kill -0 "$xvfb_pid" 2>/dev/null; then
      display=":$n"
      break
   fi
   kill "$xvfb_pid" 2>/dev/null
   wait "$xvfb_pid" 2>/dev/null
   xvfb_pid=""
done
if [[ -z "$display" ]]; then
   echo "with-xvfb: could not start Xvfb; last log:" >&2
   cat -- "$tmp/xvfb.log" >&2 2>/dev/null
   exit 1
fi

export DISPLAY="$display"
echo "with-xvfb: Xvfb on DISPLAY=$DISPLAY (pid $xvfb_pid)"
"$@"
rc=$?
exit "$rc"
