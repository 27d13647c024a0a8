#!/usr/bin/env bash
# Runs every benchmark binary of a Release build; exits 1 when any of them misses its bound.
# The store benchmarks take their cases as arguments: the 200k-message folder and the
# single-message commits run here; the store past 4 GB needs a folder with room:
#   build-release/bin/bench_store big DIR [GB]
set -uo pipefail
build=${1:-build-release}
found=0
status=0
run() {
  echo "== $*"
  "$@" || { echo "   (exit status $?)"; status=1; }
}
for b in "$build"/bin/bench_*; do
  [ -x "$b" ] || continue
  found=1
  case "$(basename "$b")" in
    bench_store)
      run "$b" folder 200000
      run "$b" commits 10000
      run "$b" recipients 50000
      run "$b" chain 200
      ;;
    bench_convert)
      run "$b"
      run "$b" --big
      ;;
    *) run "$b" ;;
  esac
done
[ $found -eq 1 ] || { echo "make bench: no benchmarks built yet"; exit 1; }
exit $status
