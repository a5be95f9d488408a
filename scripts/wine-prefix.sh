#!/usr/bin/env bash
# Creates (once) a sandboxed 64-bit Wine prefix in DIR for running the test
# programs, and checks on every call that it is still sandboxed:
#   - no drive letter maps a folder outside the prefix (Wine's default z: maps
#     the whole host file system), apart from c: and the com*/lpt* devices;
#   - no link under drive_c leads outside the prefix (Wine links the user's
#     Desktop, Documents, ... to $HOME); each is replaced by a plain folder.
# Programs are still started by their absolute host path: Wine reaches such
# paths as \\?\unix\... without a drive letter.
#
# Usage: scripts/wine-prefix.sh DIR
set -euo pipefail

if [[ $# -ne 1 || -z "$1" ]]; then
   echo "usage: $0 PREFIX_DIR" >&2
   exit 2
fi

mkdir -p "$(dirname -- "$1")"
prefix="$(cd -- "$(dirname -- "$1")" && pwd -P)/$(basename -- "$1")"
stamp="$prefix/.ov-sandboxed"
lock="$prefix.lock"

source "$(dirname -- "${BASH_SOURCE[0]}")/wine-env.sh"
ov_wine_env "$prefix"

# Is PATH (a symlink target, made absolute) inside the prefix?
inside_prefix() {
   local target
   target="$(readlink -m -- "$1")"
   [[ "$target" == "$prefix" || "$target" == "$prefix"/* ]]
}

# Removes drive letters that lead out of the prefix and replaces outward links
# under drive_c by plain folders. Prints what it changed.
sanitize() {
   local entry name
   if [[ -d "$prefix/dosdevices" ]]; then
      for entry in "$prefix"/dosdevices/*; do
         [[ -L "$entry" ]] || continue
         name="$(basename -- "$entry")"
         case "$name" in
            c:|com[0-9]*|lpt[0-9]*) continue ;;
         esac
         if ! inside_prefix "$entry"; then
            echo "wine-prefix: removing dosdevices/$name -> $(readlink -- "$entry")"
            rm -f -- "$entry"
         fi
      done
   fi
   if [[ -d "$prefix/drive_c" ]]; then
      while IFS= read -r -d '' entry; do
         if ! inside_prefix "$entry"; then
            echo "wine-prefix: replacing link ${entry#"$prefix"/} -> $(readlink -- "$entry")"
            rm -f -- "$entry"
            mkdir -p -- "$entry"
            # A non-empty folder: Wine only swaps an empty one back for a link.
            : >"$entry/.ov-sandboxed"
         fi
      done < <(find "$prefix/drive_c" -type l -print0)
   fi
}

# Fails unless the prefix is sandboxed as described above.
verify() {
   local entry name target bad=0
   [[ -d "$prefix/drive_c" ]] || { echo "wine-prefix: $prefix/drive_c missing" >&2; return 1; }
   for entry in "$prefix"/dosdevices/*; do
      [[ -L "$entry" ]] || continue
      name="$(basename -- "$entry")"
      target="$(readlink -m -- "$entry")"
      if [[ "$target" == "/" ]]; then
         echo "wine-prefix: dosdevices/$name maps the host root /" >&2
         bad=1
      fi
      case "$name" in
         c:|com[0-9]*|lpt[0-9]*) ;;
         *) if ! inside_prefix "$entry"; then
               echo "wine-prefix: dosdevices/$name leads outside the prefix ($target)" >&2
               bad=1
            fi ;;
      esac
   done
   if [[ "$(readlink -m -- "$prefix/dosdevices/c:")" != "$prefix/drive_c" ]]; then
      echo "wine-prefix: dosdevices/c: does not map $prefix/drive_c" >&2
      bad=1
   fi
   while IFS= read -r -d '' entry; do
      if ! inside_prefix "$entry"; then
         echo "wine-prefix: ${entry#"$prefix"/} links outside the prefix" >&2
         bad=1
      fi
   done < <(find "$prefix/drive_c" -type l -print0)
   return "$bad"
}

exec 9>"$lock"
flock 9

if [[ -f "$stamp" ]]; then
   # Already made: repair what a Wine update may have put back, then check.
   if ! verify 2>/dev/null; then
      sanitize
      verify || { echo "wine-prefix: FAILED to sandbox $prefix" >&2; exit 1; }
   fi
   exit 0
fi

echo "wine-prefix: creating $prefix"
rm -rf -- "$prefix"
mkdir -p -- "$prefix"
# Keep the prefix's own processes off our stdout/stderr: a caller that waits
# for end-of-file on them (ctest, a pipe) would otherwise wait for them too.
if ! wineboot -i </dev/null >"$prefix.log" 2>&1; then
   echo "wine-prefix: wineboot -i failed; log:" >&2
   cat -- "$prefix.log" >&2
   exit 1
fi
wineserver -w </dev/null >>"$prefix.log" 2>&1 || true

sanitize
if ! verify; then
   echo "wine-prefix: FAILED to sandbox $prefix" >&2
   exit 1
fi
touch -- "$stamp"
echo "wine-prefix: ready (no drive outside the prefix, no links to \$HOME)"
