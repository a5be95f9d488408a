#!/usr/bin/env bash
# Runs one libFuzzer harness so that it never writes into the source tree:
# new inputs go to a scratch (or given) corpus folder, the checked-in seeds
# are only read, crash/leak/timeout inputs go to ARTIFACT_DIR.
#
# Usage: scripts/fuzz-run.sh [--corpus DIR] HARNESS SEED_DIR ARTIFACT_DIR [LIBFUZZER_FLAGS...]
#   --corpus DIR  keep the grown corpus in DIR (default: a temporary folder)
#   SEED_DIR      read-only seeds; skipped when it does not exist
# Returns the harness's exit code (non-zero on a finding).
set -uo pipefail

corpus=""
if [[ "${1:-}" == "--corpus" ]]; then
   corpus="$2"
   shift 2
fi
if [[ $# -lt 3 ]]; then
   echo "usage: $0 [--corpus DIR] HARNESS SEED_DIR ARTIFACT_DIR [FLAGS...]" >&2
   exit 2
fi
harness="$1"
seeds="$2"
artifacts="$3"
shift 3

scratch=""
if [[ -z "$corpus" ]]; then
   scratch="$(mktemp -d "${TMPDIR:-/tmp}/ov-fuzz.XXXXXX")"
   trap 'rm -rf -- "$scratch"' EXIT
   corpus="$scratch"
fi
mkdir -p -- "$corpus" "$artifacts"

dirs=("$corpus")
if [[ -d "$seeds" ]]; then
   dirs+=("$seeds")
fi

"$harness" -artifact_prefix="$artifacts/" "$@" "${dirs[@]}"
