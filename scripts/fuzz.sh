#!/usr/bin/env bash
# Longer fuzzing than the short runs of scripts/test.sh: every libFuzzer target of the sanitizer build runs for
# SECONDS (default 300), then what it found is merged into the target's corpus in the tree, keeping only inputs
# that add coverage. Crash inputs are left in build-asan/fuzz-artifacts/.
#   scripts/fuzz.sh [SECONDS]
set -uo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-300}
jobs=${JOBS:-2}
case "$seconds" in ''|*[!0-9]*) echo "usage: scripts/fuzz.sh [SECONDS]" >&2; exit 2 ;; esac

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
      -DQT_BUILD=OFF -DSANITIZE=ON -DBUILD_FUZZERS=ON >/dev/null && cmake --build build-asan -j "$jobs" || exit 1

# Each fuzz test's command line ends in: binary, options, work folder, corpus folder in the tree.
targets=$(ctest --test-dir build-asan -L fuzz --show-only=json-v1 | /usr/bin/python3 -c '
import json, sys
for t in json.load(sys.stdin)["tests"]:
    cmd = t.get("command", [])
    bins = [c for c in cmd if c.startswith("/") and "/build-asan/" in c and not c.endswith("_corpus")]
    if bins and len(cmd) >= 2:
        print(t["name"], bins[0], cmd[-1])
')
[ -n "$targets" ] || { echo "no fuzz targets found"; exit 1; }

artifacts=build-asan/fuzz-artifacts
mkdir -p "$artifacts"
fail=0
while read -r name binary corpus; do
  work=$(mktemp -d)
  echo "== $name: ${seconds}s, corpus $corpus"
  if ! ASAN_OPTIONS=detect_leaks=0 "$binary" -max_total_time="$seconds" -timeout=5 -rss_limit_mb=2048 \
       -artifact_prefix="$artifacts/$name-" -print_final_stats=1 "$work" "$corpus" 2>"$artifacts/$name.log"; then
    echo "FAILED $name (see $artifacts/$name.log)"
    fail=1
  fi
  grep -E "^#[0-9]+ +DONE|stat::number_of_executed_units|stat::average_exec_per_sec" "$artifacts/$name.log" || true
  before=$(ls "$corpus" | wc -l)
  ASAN_OPTIONS=detect_leaks=0 "$binary" -merge=1 "$corpus" "$work" >/dev/null 2>&1 || true
  echo "   corpus: $before -> $(ls "$corpus" | wc -l) inputs"
  rm -rf "$work"
done <<< "$targets"

[ "$fail" -eq 0 ] && echo "all fuzz targets ran clean" || { echo "some fuzz targets failed"; exit 1; }
