#!/usr/bin/env bash
# Installs what the Windows cross-build needs from the Debian archive the machine already uses:
# the MinGW-w64 compilers with POSIX threads (so std::thread works), Wine to run the results
# (with its 32-bit loader: NSIS makes the installer a 32-bit program), NSIS for the installer, meson for GLib, and the source entries that `apt-get source` needs for
# scripts/windows/build-deps.sh. Idempotent: quiet when everything is present.
set -euo pipefail

packages=(
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  mingw-w64-x86-64-dev mingw-w64-tools libz-mingw-w64-dev
  wine64 wine wine32:i386
  nsis
  meson ninja-build pkg-config cmake dpkg-dev autoconf automake libtool gtk-doc-tools
  zip unzip xvfb xauth x11-apps netpbm
)

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "install-toolchain: need root or sudo" >&2; exit 1; }
  sudo="sudo"
fi

# Source entries: a deb822 file gets "deb-src" added to its Types, a one-line list gets a deb-src twin
# of each deb line. Only the Debian archive entries are touched.
need_update=0
# wine32 comes from the i386 side of the same archive.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
  need_update=1
fi
if ! apt-get indextargets --format '$(CREATED_BY)' 2>/dev/null | grep -qx Sources; then
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -e "$f" ] || continue
    grep -q 'deb.debian.org\|debian.org/debian' "$f" || continue
    if grep -q '^Types: deb$' "$f"; then
      $sudo sed -i 's/^Types: deb$/Types: deb deb-src/' "$f"
      need_update=1
    fi
  done
  if [ -f /etc/apt/sources.list ] && grep -q '^deb http' /etc/apt/sources.list \
     && ! grep -q '^deb-src ' /etc/apt/sources.list; then
    grep '^deb http' /etc/apt/sources.list | sed 's/^deb /deb-src /' | $sudo tee -a /etc/apt/sources.list >/dev/null
    need_update=1
  fi
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ] || [ "$need_update" = 1 ]; then
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "install-toolchain: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The posix-thread flavour of the cross compilers (Debian's alternatives default to win32 threads).
for tool in gcc g++; do
  if [ -x /usr/bin/x86_64-w64-mingw32-$tool-posix ] \
     && [ "$(readlink -f /usr/bin/x86_64-w64-mingw32-$tool)" != /usr/bin/x86_64-w64-mingw32-$tool-posix ]; then
    $sudo update-alternatives --set x86_64-w64-mingw32-$tool /usr/bin/x86_64-w64-mingw32-$tool-posix >/dev/null
  fi
done
exit 0
