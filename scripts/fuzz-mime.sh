#!/usr/bin/env bash
# Builds the message importer's libFuzzer target with clang (outside the CMake build), together
# with the store library it writes each imported message into, and runs it over a corpus seeded
# with the sample messages.
#   scripts/fuzz-mime.sh [seconds] [jobs] [runs]   (defaults: 600 seconds, 1 job, no run limit)
# MAILFOLD_FUZZ_TIMEOUT (seconds, default 10) is the time one input may take; on a machine busy
# with other work a starved input can pass 10 s and end the run with a false timeout.
# With several jobs, each job runs until it has done `runs` executions (or the time is up).
# Findings (crash-*, timeout-*, leak-*, oom-*) land in build-fuzz-mime/findings/; copy each
# into tests/mime/fuzz_regressions/ once fixed so that test_mime replays it.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
jobs=${2:-1}
runs=${3:--1}
out=build-fuzz-mime
mkdir -p "$out/obj" "$out/corpus" "$out/findings" "$out/stores"

flags=(-std=c++20 -g -O1 -fsanitize=address,undefined -fno-sanitize-recover=undefined -I. $(pkg-config --cflags gmime-3.0 libical))
objects=()
# The store library is checked by the sanitizers but not instrumented for coverage: the
# mutations are steered by what the importer does, and the store runs several times faster.
# (pst/fuzz holds the store's own fuzz targets, each with its own entry point.)
for src in mime/*.cpp $(find pst -name '*.cpp' -not -path 'pst/fuzz/*' | sort) mime/fuzz/fuzz_importer.cpp; do
  obj="$out/obj/$(echo "${src%.cpp}" | tr / _).o"
  if [ ! -f "$obj" ] || [ "$src" -nt "$obj" ] || [ "$0" -nt "$obj" ] || [ -n "$(find mime pst -name '*.h' -newer "$obj" -print -quit)" ]; then
    case "$src" in
      mime/fuzz/fuzz_importer.cpp) clang++ "${flags[@]}" -fsanitize=fuzzer -c "$src" -o "$obj" ;;
      pst/*) clang++ "${flags[@]}" -c "$src" -o "$obj" ;;
      *) clang++ "${flags[@]}" -fsanitize=fuzzer-no-link -c "$src" -o "$obj" ;;
    esac
  fi
  objects+=("$obj")
done
clang++ "${flags[@]}" -fsanitize=fuzzer "${objects[@]}" $(pkg-config --libs gmime-3.0 libical) -o "$out/fuzz_importer"

# Seed: the sample messages (kept small) and the regression inputs.
shared=${MAILFOLD_SHARED_DIR:-../shared}
if [ -d "$shared/samples/eml" ] && [ -z "$(ls -A "$out/corpus")" ]; then
  find "$shared/samples/eml" -name '*.eml' -size -64k -exec cp {} "$out/corpus/" \; 2>/dev/null || true
fi
# TNEF: inputs that start with its signature are wrapped in a message by the target, so the
# winmail.dat files of the samples (and the attached messages inside them) and our own seeds
# go in bare.
if [ -d "$shared/samples/eml" ] && [ -z "$(ls "$out/corpus" | grep '^tnef-' || true)" ]; then
  python3 - "$shared/samples/eml" "$out/corpus" <<'PY' || true
import email, email.policy, hashlib, sys
from pathlib import Path
iid_message = bytes.fromhex("0703020000000000c000000000000046")
for path in Path(sys.argv[1]).rglob("*.eml"):
    msg = email.message_from_bytes(path.read_bytes(), policy=email.policy.default)
    for part in msg.walk():
        if part.get_content_type() != "application/ms-tnef":
            continue
        data = part.get_payload(decode=True) or b""
        # An attached message is an object value: its size (IID included), the IID, a stream.
        pieces = [data] + [data[i + 16:i + int.from_bytes(data[i - 4:i], "little")]
                           for i in range(4, len(data)) if data.startswith(iid_message, i)]
        for piece in pieces:
            if 0 < len(piece) <= 262144:
                (Path(sys.argv[2]) / ("tnef-" + hashlib.sha1(piece).hexdigest()[:12])).write_bytes(piece)
PY
fi
cp mime/fuzz/tnef_seeds/* "$out/corpus/" 2>/dev/null || true
if [ -d tests/mime/fuzz_regressions ]; then cp tests/mime/fuzz_regressions/* "$out/corpus/" 2>/dev/null || true; fi

# Most of an execution is the allocator's bookkeeping (the store write allocates much): a small
# quarantine and no allocation stacks make it a fifth faster. A finding's input replayed by the
# tests (or by the target with the default options) gives the full report.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1:quarantine_size_mb=8:malloc_context_size=0}
# GLib's type system and GMime's one-time tables are process lifetime, not leaks.
printf 'leak:g_type_register\nleak:g_mime_init\nleak:g_type_class_ref\nleak:g_quark\n' > "$out/lsan.supp"
export LSAN_OPTIONS=suppressions=$PWD/$out/lsan.supp
# The stores the target writes (one per process, replaced every few dozen messages).
export MAILFOLD_FUZZ_STORE_DIR=${MAILFOLD_FUZZ_STORE_DIR:-$PWD/$out/stores}
parallel=()
# With several jobs libFuzzer writes fuzz-N.log files into the current folder: keep them in $out.
[ "$jobs" -gt 1 ] && parallel=(-jobs="$jobs" -workers="$jobs")
cd "$out"
# The store the target keeps between inputs holds on to memory, so libFuzzer's leak check after
# each input that allocated more than it freed would run after nearly every one (a tenth of the
# speed). Leaks are looked for when each process ends instead, where LeakSanitizer reports them
# with their stacks.
./fuzz_importer corpus -artifact_prefix=findings/ -max_total_time="$seconds" -runs="$runs" \
  -max_len=262144 -timeout="${MAILFOLD_FUZZ_TIMEOUT:-10}" -rss_limit_mb=2048 -detect_leaks=0 -print_final_stats=1 "${parallel[@]}"
