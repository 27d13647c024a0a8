#!/usr/bin/env bash
# Runs Mailfold's main job on the bundled example mail folder.
set -euo pipefail
build=${1:-build}
if [ ! -x "$build/bin/mailfold-convert" ]; then
  echo "make demo: the headless converter (mailfold-convert) is not built yet, so there is"
  echo "nothing to convert. What exists today: the file services, the store engine and the"
  echo "message importer as libraries with their tests (run 'make test')."
  exit 0
fi
rm -rf out && mkdir -p out
"$build/bin/mailfold-convert" examples/mailbox -o out/example.pst
"$build/bin/mailfold-pst" ls out/example.pst
echo "---- out/example.log"
cat out/example.log
