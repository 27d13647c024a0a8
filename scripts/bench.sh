#!/usr/bin/env bash
# Runs every benchmark binary of a Release build.
set -euo pipefail
build=${1:-build-release}
found=0
for b in "$build"/bin/bench_*; do
  [ -x "$b" ] || continue
  found=1
  echo "== $(basename "$b")"
  "$b"
done
[ $found -eq 1 ] || echo "make bench: no benchmarks built yet"
