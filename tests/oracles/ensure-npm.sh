#!/usr/bin/env bash
# Installs the npm store reader used as a test oracle into tests/node_modules, once.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
[ -f "$here/node_modules/pst-extractor/package.json" ] && exit 0
command -v npm >/dev/null || { echo "ensure-npm: npm is not installed" >&2; exit 1; }
cd "$here" && npm ci --no-audit --no-fund --silent
