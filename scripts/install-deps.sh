#!/usr/bin/env bash
# Installs every Debian package that building, testing (GUI tests under Xvfb included)
# and the independent store readers and TNEF decoder used as test oracles need. Idempotent: quiet when
# everything is present; runs apt-get update only when something is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libglib2.0-dev libgmime-3.0-dev libical-dev libjemalloc-dev
  libwxgtk3.2-dev
  xvfb xauth
  pff-tools pst-utils python3-pypff python3-icalendar
  tnef
  nodejs
  clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "install-deps: need root or sudo to install: ${missing[*]}" >&2; exit 1; }
  sudo="sudo"
fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
