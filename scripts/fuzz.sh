#!/usr/bin/env bash
# Runs every fuzzer for the same time and sums up what each did:
#   scripts/fuzz.sh [seconds per fuzzer]      (default 600)
# The message importer (scripts/fuzz-mime.sh) and the store reader (scripts/fuzz-store.sh);
# each keeps its corpus and findings in build-fuzz-<name>/. Exit status 1 when a fuzzer found
# anything new or could not run.
set -uo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
status=0
summary=()
for name in mime store; do
  out=build-fuzz-$name
  mkdir -p "$out/findings"
  before=$(ls "$out/findings" | wc -l)
  echo "== fuzzing the ${name} reader for ${seconds} s"
  bash "scripts/fuzz-$name.sh" "$seconds" 2>&1 | tee "$out/last-run.log" | grep -E '^(#[0-9]+.*(INITED|DONE|pulse))|ERROR|SUMMARY|stat::' || true
  rc=${PIPESTATUS[0]}
  executions=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$out/last-run.log" | awk '{s += $2} END {print s + 0}')
  found=$(( $(ls "$out/findings" | wc -l) - before ))
  summary+=("$(printf '%-6s %12s executions  %3s findings  (exit %s; findings in %s/findings, log in %s/last-run.log)' \
    "$name" "$executions" "$found" "$rc" "$out" "$out")")
  [ "$rc" -ne 0 ] || [ "$found" -ne 0 ] && status=1
done
echo
echo "== fuzzing summary"
printf '%s\n' "${summary[@]}"
exit $status
