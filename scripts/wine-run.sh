#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's sandboxed prefix and
# returns the program's exit code. CMake uses it as the cross-compiling
# emulator of the Windows tree, so ctest runs tests through it.
#
# Usage: scripts/wine-run.sh [--prefix DIR] PROGRAM.exe [ARGS...]
#
# The prefix is DIR, else $OV_WINEPREFIX, else build/win/wineprefix. It is
# created on first use (scripts/wine-prefix.sh). The prefix has no drive for
# the host file system, so an argument that is an absolute path of an
# existing host file or folder is handed to the program as \\?\unix\...,
# which Wine resolves without a drive letter.
#
# No persistent wineserver is started here: with one, Wine's services stay
# up for good. scripts/run-tests.sh keeps one for the length of a ctest run
# and stops it afterwards.
set -uo pipefail

here="$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")" && pwd -P)"

prefix="${OV_WINEPREFIX:-}"
if [[ "${1:-}" == "--prefix" ]]; then
   [[ $# -ge 2 ]] || { echo "wine-run: --prefix needs a folder" >&2; exit 2; }
   prefix="$2"
   shift 2
fi
[[ -n "$prefix" ]] || prefix="$here/../build/win/wineprefix"
if [[ $# -lt 1 ]]; then
   echo "usage: $0 [--prefix DIR] PROGRAM.exe [ARGS...]" >&2
   exit 2
fi

exe="$1"
shift
if [[ ! -f "$exe" ]]; then
   echo "wine-run: no such program: $exe" >&2
   exit 2
fi
exe="$(cd -- "$(dirname -- "$exe")" && pwd -P)/$(basename -- "$exe")"

# Creates the prefix if needed and checks it is still sandboxed (cheap).
bash "$here/wine-prefix.sh" "$prefix" >&2 || exit 1
prefix="$(cd -- "$prefix" && pwd -P)"

source "$(dirname -- "${BASH_SOURCE[0]}")/wine-env.sh"
ov_wine_env "$prefix"

# The program runs from a copy on drive C:. Started by its host path it
# would see its own file name as a \\?\unix path, which CreateProcess
# cannot start again; GoogleTest's death tests start their own program.
bindir="$prefix/drive_c/ovbin"
mkdir -p -- "$bindir"
cp -f -- "$exe" "$bindir/"
exe_dos="C:\\ovbin\\$(basename -- "$exe")"

args=()
for arg in "$@"; do
   if [[ "$arg" == /* && -e "$arg" ]]; then
      arg="$(readlink -m -- "$arg")"
      arg="\\\\?\\unix${arg//\//\\}"
   fi
   args+=("$arg")
done

# The program's output goes to a file that `tail` copies to our stdout as it
# grows. Wine's own background processes (services.exe, winedevice.exe, ...)
# are started by the first program of a session and inherit its output; were
# that our stdout, a caller that reads it to its end (ctest) would wait for
# them as well, which with a persistent wineserver is forever.
log="$(mktemp "${TMPDIR:-/tmp}/ov-wine-run.XXXXXX")"
wine_pid=""
tail_pid=""
cleanup() {
   [[ -n "$wine_pid" ]] && kill "$wine_pid" 2>/dev/null
   [[ -n "$tail_pid" ]] && kill "$tail_pid" 2>/dev/null
   rm -f -- "$log"
}
trap cleanup EXIT
trap 'exit 143' TERM
trap 'exit 130' INT

# A current directory outside every drive breaks process creation too.
(cd -- "$bindir" && exec wine "$exe_dos" "${args[@]}") </dev/null >"$log" 2>&1 &
wine_pid=$!
tail -n +1 -s 0.1 --pid="$wine_pid" -f -- "$log" &
tail_pid=$!

wait "$wine_pid"
rc=$?
wine_pid=""
# tail ends by itself once it has copied everything the program wrote.
wait "$tail_pid"
tail_pid=""
exit "$rc"
