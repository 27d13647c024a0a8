#!/usr/bin/env bash
# Builds the store reader's libFuzzer target with clang (outside the CMake build) and runs it
# over a corpus seeded with the sample stores and small stores of our own.
#   scripts/fuzz-store.sh [seconds] [jobs]     (defaults: 600 seconds, 1 job)
# Findings (crash-*, timeout-*, leak-*, oom-*) land in build-fuzz-store/findings/; copy each
# into tests/pst/fuzz_regressions/ once fixed so that test_pst_messaging replays it.
# Inputs are store files without their trailing zeros (see pst/fuzz/fuzz_store_reader.cpp).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
jobs=${2:-1}
out=build-fuzz-store
mkdir -p "$out/obj" "$out/corpus" "$out/findings" "$out/seeds"

flags=(-std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined -I.)
library_flags=("${flags[@]/-fsanitize=fuzzer,address,undefined/-fsanitize=fuzzer-no-link,address,undefined}")
objects=()
for src in pst/ndb/*.cpp pst/ltp/*.cpp pst/messaging/*.cpp; do
  obj="$out/obj/$(basename "$(dirname "$src")")-$(basename "${src%.cpp}").o"
  if [ ! -f "$obj" ] || [ "$src" -nt "$obj" ] || [ -n "$(find pst -name '*.h' -newer "$obj" -print -quit)" ]; then
    clang++ "${library_flags[@]}" -c "$src" -o "$obj"
  fi
  objects+=("$obj")
done
clang++ "${flags[@]}" pst/fuzz/fuzz_store_reader.cpp "${objects[@]}" -o "$out/fuzz_store_reader"
clang++ "${library_flags[@]}" pst/fuzz/make_seed_stores.cpp "${objects[@]}" -o "$out/make_seed_stores"

# Seed: the sample stores that are small without their trailing zeros, stores of our own, and the
# regression inputs.
shared=${MAILFOLD_SHARED_DIR:-../shared}
if [ -z "$(ls -A "$out/corpus")" ]; then
  if [ -d "$shared/samples/pst" ]; then
    for f in "$shared"/samples/pst/*.pst; do
      python3 -c 'import sys; d=open(sys.argv[1],"rb").read().rstrip(b"\0"); len(d) <= 262144 and open(sys.argv[2],"wb").write(d)' \
        "$f" "$out/corpus/sample-$(basename "$f")"
    done
  fi
  ASAN_OPTIONS=detect_leaks=0 "$out/make_seed_stores" "$out/seeds"
  cp "$out"/seeds/*.pst "$out/corpus/"
fi
if [ -d tests/pst/fuzz_regressions ]; then cp tests/pst/fuzz_regressions/* "$out/corpus/" 2>/dev/null || true; fi

export ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1
parallel=()
# With several jobs libFuzzer writes fuzz-N.log files into the current folder: keep them in $out.
[ "$jobs" -gt 1 ] && parallel=(-jobs="$jobs" -workers="$jobs")
cd "$out"
./fuzz_store_reader corpus -artifact_prefix=findings/ -max_total_time="$seconds" \
  -max_len=262144 -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 "${parallel[@]}"
