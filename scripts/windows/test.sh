#!/usr/bin/env bash
# `make test-windows`: the Windows build checked here, under Wine.
#   1. the non-GUI test programs (files, pst, mime, engine, run, convert), without a display;
#   2. mailfold-convert.exe converts examples/mailbox; the store is read back by the Linux
#      readers (pffexport, readpst) and checked by the Linux mailfold-pst, and its folders and
#      counts are compared with a store the Linux build makes of the same folder;
#   3. mailfold.exe on a virtual display (Xvfb): a screenshot of the start screen
#      (docs/screenshots/windows-start.png);
#   4. the installer (dist/, from `make windows` when present): a silent install for the current
#      user and one for all users in a Wine prefix of their own, the installed converter run,
#      the Start-menu entry and the uninstall entry checked, then the uninstaller, which must
#      leave none of them.
# Times of each part are printed. Exit status: the number of failed parts (0 = all passed).
set -uo pipefail
source "$(dirname "$0")/env.sh"
cd "$win_root"
linux_build=${BUILD:-build}
failed=0
part() { echo; echo "==== $*"; }
fail() { echo "FAILED: $*"; failed=$((failed + 1)); }

# Test files that only make sense on POSIX are left out of the Windows build (tests/CMakeLists.txt
# says why for each); single cases skip with their reason.
test_programs=(test_files test_pst_ndb test_pst_ltp test_pst_messaging test_pst_safety test_mime test_engine test_run
               test_convert)
start=$SECONDS
bash scripts/windows/build.sh mailfold-convert mailfold-pst "${test_programs[@]}" || exit 1
echo "build: $((SECONDS - start))s"
win_prepare_prefix

part "1. test programs under Wine"
for t in "${test_programs[@]}"; do
  exe=$win_build/bin/$t.exe
  [ -f "$exe" ] || { fail "$t was not built"; continue; }
  start=$SECONDS
  if DISPLAY= win_wine "$exe" --gtest_brief=1 >"$win_build/$t.log" 2>&1; then
    echo "$t: passed ($((SECONDS - start))s) $(grep -E '^\[  (PASSED|SKIPPED) ' "$win_build/$t.log" | tr '\n' ' ')"
  else
    fail "$t ($((SECONDS - start))s), see $win_build/$t.log"
    grep -E '^\[  FAILED  \]' "$win_build/$t.log" | head -20
  fi
done

part "2. mailfold-convert.exe on examples/mailbox, read back on Linux"
out=$win_build/example
rm -rf "$out" && mkdir -p "$out"
start=$SECONDS
status=0
DISPLAY= win_wine "$win_build/bin/mailfold-convert.exe" examples/mailbox -o "$out/example.pst" >"$out/convert.txt" 2>&1 || status=$?
echo "mailfold-convert.exe: exit $status ($((SECONDS - start))s); the example holds one broken message on purpose (exit 1)"
if [ "$status" -gt 1 ] || [ ! -s "$out/example.pst" ]; then
  fail "mailfold-convert.exe"; cat "$out/convert.txt"
else
  if [ ! -x "$linux_build/bin/mailfold-pst" ] || [ ! -x "$linux_build/bin/mailfold-convert" ]; then
    cmake -S . -B "$linux_build" -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
    nice -n 10 cmake --build "$linux_build" -j "${JOBS:-2}" --target mailfold-pst mailfold-convert >/dev/null
  fi
  "$linux_build/bin/mailfold-pst" check "$out/example.pst" >"$out/check.txt" 2>&1 && echo "mailfold-pst check: clean" \
    || { fail "mailfold-pst check"; cat "$out/check.txt"; }
  rm -rf "$out/pff" && pffexport -q -t "$out/pff" "$out/example.pst" >"$out/pffexport.txt" 2>&1 \
    && echo "pffexport: read $(find "$out/pff.export" -name 'Message.txt' -o -name 'OutlookHeaders.txt' | grep -c OutlookHeaders) messages" \
    || { fail "pffexport"; tail -5 "$out/pffexport.txt"; }
  mkdir -p "$out/readpst" && readpst -q -D -o "$out/readpst" "$out/example.pst" >"$out/readpst.txt" 2>&1 \
    && echo "readpst: read" || { fail "readpst"; tail -5 "$out/readpst.txt"; }
  # The same folder through the Linux build: the listings must match.
  "$linux_build/bin/mailfold-convert" examples/mailbox -o "$out/linux.pst" >/dev/null 2>&1 || true
  "$linux_build/bin/mailfold-pst" ls "$out/example.pst" >"$out/ls-windows.txt" 2>&1
  "$linux_build/bin/mailfold-pst" ls "$out/linux.pst" >"$out/ls-linux.txt" 2>&1
  if diff -u "$out/ls-linux.txt" "$out/ls-windows.txt"; then
    echo "folders and counts: the same as the Linux build's store"; cat "$out/ls-windows.txt"
  else
    fail "folders and counts differ from the Linux build's store"
  fi
  # Names beyond ASCII in the source folder, its sub-folders and the store's own name.
  intl="$out/Boîte aux lettres €"
  cp -r examples/mailbox "$intl" && mv "$intl/Projects" "$intl/Überweisungen – 2020"
  DISPLAY= win_wine "$win_build/bin/mailfold-convert.exe" "$intl" -o "$out/Boîte-ä.pst" >/dev/null 2>&1
  "$linux_build/bin/mailfold-convert" "$intl" -o "$out/linux-intl.pst" >/dev/null 2>&1
  if [ -s "$out/Boîte-ä.pst" ] && [ -s "$out/Boîte-ä.log" ] &&
     diff <("$linux_build/bin/mailfold-pst" ls "$out/linux-intl.pst") <("$linux_build/bin/mailfold-pst" ls "$out/Boîte-ä.pst"); then
    echo "names beyond ASCII: the same folders and counts as the Linux build's store"
  else
    fail "names beyond ASCII"
  fi
fi

part "3. mailfold.exe start screen on Xvfb"
if [ -f "$win_build/bin/mailfold.exe" ] || bash scripts/windows/build.sh mailfold >/dev/null 2>&1; then
  bash scripts/windows/screenshot.sh "$win_build/bin/mailfold.exe" docs/screenshots/windows-start.png \
    && echo "screenshot: docs/screenshots/windows-start.png" || fail "screenshot of mailfold.exe"
else
  fail "mailfold.exe was not built"
fi

part "4. the installer"
version=$(sed -n 's/^project(Mailfold VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
setup=$win_root/dist/mailfold-$version-setup.exe
if [ ! -f "$setup" ] || [ "$setup" -ot "$win_build/bin/mailfold.exe" ]; then
  echo "installer: $setup missing or older than the programs; making it (make windows)"
  bash scripts/windows/package.sh >/dev/null 2>&1 || fail "make windows"
fi
if [ -f "$setup" ]; then
  # A prefix of its own: installing must not touch the one the tests use.
  installer_prefix=$(mktemp -d /tmp/mailfold-installer.XXXXXX)
  (
    export WINEPREFIX=$installer_prefix/prefix
    unset WINEPATH  # the installed programs find their DLLs beside them; the installer is 32-bit
    DISPLAY= wineboot -i >/dev/null 2>&1
    drive_c=$WINEPREFIX/drive_c
    check_mode() {  # mode, install folder, Start-menu folder, registry root
      local mode=$1 dir=$2 menu=$3 root=$4 key='Software\Microsoft\Windows\CurrentVersion\Uninstall\Mailfold'
      DISPLAY= wine "$setup" /S "/$mode" && wineserver -w
      [ -x "$dir/mailfold-convert.exe" ] && [ -f "$dir/mailfold.exe" ] && [ -f "$dir/uninstall.exe" ] \
        || { echo "$mode: programs not installed in $dir"; return 1; }
      [ -f "$menu/Mailfold.lnk" ] || { echo "$mode: no Start-menu entry in $menu"; return 1; }
      DISPLAY= wine reg query "$root\\$key" /reg:64 >/dev/null 2>&1 || { echo "$mode: no uninstall entry"; return 1; }
      rm -f "$installer_prefix/installed.pst"
      DISPLAY= wine "$dir/mailfold-convert.exe" -q "Z:$win_root/examples/mailbox" -o "Z:$installer_prefix/installed.pst" >/dev/null 2>&1
      "$linux_build/bin/mailfold-pst" check "$installer_prefix/installed.pst" >/dev/null 2>&1 \
        || { echo "$mode: the installed converter made no clean store"; return 1; }
      DISPLAY= wine "$dir/uninstall.exe" /S "/$mode" && wineserver -w
      [ ! -e "$dir" ] && [ ! -e "$menu/Mailfold.lnk" ] || { echo "$mode: the uninstaller left files behind"; return 1; }
      ! DISPLAY= wine reg query "$root\\$key" /reg:64 >/dev/null 2>&1 || { echo "$mode: the uninstall entry stayed"; return 1; }
      echo "$mode: installed, converted examples/mailbox, uninstalled without a trace"
    }
    user=$(id -un)  # Wine names the profile folder after the Unix user
    check_mode CurrentUser "$drive_c/users/$user/AppData/Local/Programs/Mailfold" \
      "$drive_c/users/$user/AppData/Roaming/Microsoft/Windows/Start Menu/Programs" HKCU &&
    check_mode AllUsers "$drive_c/Program Files/Mailfold" "$drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs" HKLM
  ) || fail "the installer"
  rm -rf "$installer_prefix"
fi

echo
[ "$failed" -eq 0 ] && echo "test-windows: all parts passed" || echo "test-windows: $failed part(s) failed"
exit "$failed"
