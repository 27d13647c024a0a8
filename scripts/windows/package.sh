#!/usr/bin/env bash
# `make windows`: builds the three Windows programs (scripts/windows/build.sh) and packs
#   dist/mailfold-<version>-win64.zip    the programs, the DLLs they load, the help, the manual
#                                        pages as text and the licences of everything bundled
#   dist/mailfold-<version>-setup.exe    the same as an installer (NSIS): per user or for all
#                                        users, Start-menu entry, uninstaller
set -euo pipefail
source "$(dirname "$0")/env.sh"
cd "$win_root"
bash scripts/windows/build.sh mailfold-convert mailfold-pst mailfold

version=$(sed -n 's/^project(Mailfold VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
name=mailfold-$version-win64
stage=$win_build/package/$name
rm -rf "$stage" && mkdir -p "$stage/help" "$stage/man" "$stage/licences" dist
host=x86_64-w64-mingw32

for exe in mailfold mailfold-convert mailfold-pst; do
  cp "$win_build/bin/$exe.exe" "$stage/"
done
$host-strip "$stage"/*.exe

# The DLLs: what the programs import, and what those import, found among the cross-built
# libraries; the rest are Windows' own.
queue=("$stage"/*.exe)
while [ ${#queue[@]} -gt 0 ]; do
  file=${queue[0]}; queue=("${queue[@]:1}")
  for dll in $($host-objdump -p "$file" | sed -n 's/^\s*DLL Name: //p'); do
    [ -f "$stage/$dll" ] && continue
    if [ -f "$win_deps/bin/$dll" ]; then
      cp "$win_deps/bin/$dll" "$stage/"
      queue+=("$stage/$dll")
    fi
  done
done

cp -r docs/help/. "$stage/help/"
for page in docs/man/*.1; do
  MANWIDTH=80 groff -man -Tutf8 -P -c "$page" 2>/dev/null | col -bx >"$stage/man/$(basename "$page" .1).txt"
done

# Licences: Debian's copyright file of each source package bundled, and the compiler runtime's.
src=$(dirname "$win_deps")/build
for pkg in glib2.0 gmime libffi pcre2 libpng1.6 wxwidgets3.2; do
  cp "$src/$pkg/debian/copyright" "$stage/licences/$pkg.txt"
done
# libical's Debian part is not served by the archive mirror (build-deps.sh): its own licence files.
cat "$src/libical3/LICENSE" "$src/libical3/LICENSE.MPL2.txt" "$src/libical3/LICENSE.LGPL21.txt" >"$stage/licences/libical.txt"
cp /usr/share/doc/libz-mingw-w64/copyright "$stage/licences/zlib.txt"
cp /usr/share/doc/gcc-mingw-w64-base/copyright "$stage/licences/gcc-runtime.txt"
cp /usr/share/doc/mingw-w64-common/copyright "$stage/licences/mingw-w64-runtime.txt"
[ -f LICENSE ] && cp LICENSE "$stage/licences/mailfold.txt"
cat >"$stage/README.txt" <<TXT
Mailfold $version for 64-bit Windows

mailfold.exe          the wizard: converts folders of .eml files into Outlook .pst stores
mailfold-convert.exe  the same conversion from a command prompt (see man\\mailfold-convert.txt)
mailfold-pst.exe      inspects and checks a store (see man\\mailfold-pst.txt)

help\\      the help pages the wizard opens in the browser
man\\       the manual pages as text
licences\\  the licences of the libraries bundled as DLLs
TXT

rm -f "dist/$name.zip"
(cd "$stage/.." && zip -qr9 "$win_root/dist/$name.zip" "$name")
echo "package: dist/$name.zip ($(du -h "dist/$name.zip" | cut -f1))"

makensis -V2 -DVERSION="$version" -DSTAGE="$stage" -DICON="$win_root/app/resources/mailfold.ico" -DOUTFILE="$win_root/dist/mailfold-$version-setup.exe" \
  scripts/windows/mailfold.nsi
echo "package: dist/mailfold-$version-setup.exe ($(du -h "dist/mailfold-$version-setup.exe" | cut -f1))"
