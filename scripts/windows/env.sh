# Sourced by the Windows scripts: where things are and how Wine runs the programs.
#   MAILFOLD_WIN_CACHE  cache of the cross-built libraries and the Wine prefix (/var/cache/mailfold-win)
#   WIN_BUILD           the cross build folder (build-win)
win_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
win_cache=${MAILFOLD_WIN_CACHE:-/var/cache/mailfold-win}
win_build=${WIN_BUILD:-build-win}
case $win_build in /*) ;; *) win_build=$win_root/$win_build ;; esac
win_deps=$(bash "$win_root/scripts/windows/build-deps.sh" --print-prefix)

# A Wine prefix of our own, made once; no display, no Mono or Gecko installers, no debug chatter.
export WINEPREFIX=${WINEPREFIX:-$win_cache/wine/prefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
# The DLLs of the libraries and of the compiler runtime are found through WINEPATH.
export WINEPATH="Z:${win_deps//\//\\}\\bin"

win_wine() { wine "$@"; }

win_prepare_prefix() {
  # A prefix made before Wine's 32-bit loader was installed has no 32-bit system, and every program
  # fails in it once the loader is there ("could not load kernel32.dll"): it is made again.
  if [ -f "$WINEPREFIX/system.reg" ] && [ ! -f "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ]; then
    rm -rf "$WINEPREFIX"
  fi
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$(dirname "$WINEPREFIX")"
    # Without our DLL folder on the path: Wine's 32-bit side would find its 64-bit DLLs there.
    DISPLAY= WINEPATH= wineboot -i >/dev/null 2>&1
  fi
}
