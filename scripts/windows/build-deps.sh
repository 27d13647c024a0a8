#!/usr/bin/env bash
# Cross-builds the third-party libraries of the Windows programs from Debian's own source packages
# (pinned below) with MinGW-w64, into a cache outside the work tree:
#   ${MAILFOLD_WIN_CACHE:-/var/cache/mailfold-win}/prefix
# Each library has a recipe: its step below, its pinned version, the settings every step shares
# and the recipes of the libraries it is built on. A library is rebuilt only when its recipe
# changed (stamps/<library> holds the recipe it was built with), and with it every library built
# on it; an interrupted build resumes at the first library not yet finished.
#
#   scripts/windows/build-deps.sh                 build what is missing, print the prefix
#   scripts/windows/build-deps.sh --print-prefix  print the prefix only (no build)
#   scripts/windows/build-deps.sh --plan          list each library: built, or to build
#
# Only what Mailfold uses is built: the C libraries as DLLs (GLib, GMime and libical are LGPL /
# MPL: they ship as replaceable DLLs), wxWidgets (msw: base and core, nothing else) and GoogleTest
# as static libraries. Build times go to times.txt. The builds run with `nice` and JOBS (2) jobs.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
cache=${MAILFOLD_WIN_CACHE:-/var/cache/mailfold-win}
jobs=${JOBS:-2}
host=x86_64-w64-mingw32
nice_cmd=(nice -n 10)

# Debian 12 source packages, pinned.
versions=(
  libffi=3.4.4-1
  pcre2=10.42-1
  glib2.0=2.74.6-2+deb12u9
  gmime=3.2.13+dfsg-2
  libpng1.6=1.6.39-2+deb12u5
  wxwidgets3.2=3.2.2+dfsg-2
  googletest=1.12.1-0.2
  libical3=3.0.16-1
)
# The build order; each library with the source package it is made from and those it builds on.
steps=(runtime shims libffi pcre2 glib gmime libpng wxwidgets googletest libical)
declare -A package=([shims]=glib2.0 [libffi]=libffi [pcre2]=pcre2 [glib]=glib2.0 [gmime]=gmime
                    [libpng]=libpng1.6 [wxwidgets]=wxwidgets3.2 [googletest]=googletest [libical]=libical3)
declare -A builds_on=([glib]="shims libffi pcre2" [gmime]="shims glib" [wxwidgets]=libpng)

prefix=$cache/prefix
stamps=$cache/stamps
if [ "${1:-}" = "--print-prefix" ]; then
  echo "$prefix"
  exit 0
fi
command -v $host-g++ >/dev/null || { echo "build-deps: run scripts/windows/install-toolchain.sh first" >&2; exit 1; }
log=$cache/build.log
times=$cache/times.txt

export PKG_CONFIG_LIBDIR=$prefix/lib/pkgconfig:/usr/$host/lib/pkgconfig
unset PKG_CONFIG_PATH
export CPPFLAGS="-I$prefix/include"
export LDFLAGS="-L$prefix/lib"
export CFLAGS="-O2"
export CXXFLAGS="-O2"
configure_cross=(--host=$host --build=x86_64-linux-gnu --prefix="$prefix")

version_of() {
  local v
  for v in "${versions[@]}"; do
    [ "${v%%=*}" = "$1" ] && echo "${v#*=}"
  done
  return 0
}

# Unpacks the pinned source package `name` into build/<name> (patches applied) and enters it.
unpack() {
  local name=$1 version
  version=$(version_of "$name")
  local dsc="$cache/src/${name}_${version#*:}.dsc"
  if [ ! -f "$dsc" ]; then
    (cd "$cache/src" && apt-get source -qq --download-only "$name=$version") >>"$log" 2>&1 \
      || { echo "build-deps: apt-get source $name=$version failed (are deb-src entries enabled? run install-toolchain.sh)" >&2; exit 1; }
  fi
  rm -rf "$cache/build/$name"
  dpkg-source --no-check -x "$dsc" "$cache/build/$name" >>"$log" 2>&1
  cd "$cache/build/$name"
}

# Unpacks only the upstream tarball of the pinned source package `name`, checked against the
# checksum its .dsc gives, into build/<name> and enters it: for a package whose Debian part the
# archive mirror does not serve (libical3's debian.tar.xz). Debian's packaging is not needed to
# cross-build it; Debian's patches, if the package has any, are not applied.
unpack_upstream() {
  local name=$1 version
  version=$(version_of "$name")
  local dsc="$cache/src/${name}_${version#*:}.dsc"
  local upstream="${name}_${version%-*}.orig.tar.gz"
  if [ ! -f "$cache/src/$upstream" ]; then
    (cd "$cache/src" && apt-get source -qq --download-only "$name=$version") >>"$log" 2>&1 || true
  fi
  [ -f "$dsc" ] && [ -f "$cache/src/$upstream" ] \
    || { echo "build-deps: apt-get source $name=$version gave no $upstream" >&2; exit 1; }
  local want
  want=$(awk -v f="$upstream" '/^Checksums-Sha256:/{on=1; next} /^[^ ]/{on=0} on && $3 == f {print $1}' "$dsc")
  echo "$want  $cache/src/$upstream" | sha256sum -c --quiet >>"$log" 2>&1 \
    || { echo "build-deps: $upstream does not match the checksum in $dsc" >&2; exit 1; }
  rm -rf "$cache/build/$name"
  mkdir -p "$cache/build/$name"
  tar -xzf "$cache/src/$upstream" -C "$cache/build/$name" --strip-components=1
  cd "$cache/build/$name"
}

# The recipe of a step: what every step shares (the compilers, the flags, how sources are
# unpacked), the step itself, its source package's version, and the recipes of what it builds on.
declare -A recipe=()
recipe_of() {
  local name=$1 d
  {
    $host-gcc-posix --version | head -1
    printf '%s\n' "$CFLAGS" "$CXXFLAGS" "${configure_cross[@]}"
    declare -f unpack unpack_upstream "step_$name"
    [ -n "${package[$name]:-}" ] && echo "${package[$name]}=$(version_of "${package[$name]}")"
    [ "$name" = shims ] && cat "$here"/shims/*
    for d in ${builds_on[$name]:-}; do echo "$d ${recipe[$d]}"; done
  } | sha256sum | cut -c1-12
}

built() { [ "$(cat "$stamps/$1" 2>/dev/null)" = "${recipe[$1]}" ]; }

# Runs step_<name> unless it was built with its current recipe, and records its wall-clock time.
step() {
  local name=$1
  built "$name" && return 0
  echo "build-deps: building $name (log: $log)" >&2
  rm -f "$stamps/$name"
  local start=$SECONDS
  # In a subshell of its own, so that `set -e` holds inside the step (it would not in a tested
  # command list) and a step's `cd` stays inside it.
  ( set -ex; "step_$name" ) >>"$log" 2>&1 &
  wait $! || { echo "build-deps: $name failed; see $log" >&2; tail -30 "$log" >&2; exit 1; }
  echo "$name ${recipe[$name]} $((SECONDS - start))s" >>"$times"
  echo "${recipe[$name]}" >"$stamps/$name"
}

step_runtime() {
  # The compiler's own DLLs beside the libraries, so that Wine and the zip find them in one place.
  cp /usr/lib/gcc/$host/12-posix/libstdc++-6.dll /usr/lib/gcc/$host/12-posix/libgcc_s_seh-1.dll \
     /usr/$host/lib/libwinpthread-1.dll /usr/$host/lib/zlib1.dll "$prefix/bin/"
}

step_shims() {
  # libintl: GLib and GMime without translations (see shims/libintl.h). A DLL, because libtool
  # links no static archive into GMime's DLL.
  cp "$here/shims/libintl.h" "$prefix/include/"
  $host-gcc -O2 -shared -o "$prefix/bin/intl.dll" "$here/shims/intl.c" -Wl,--out-implib,"$prefix/lib/libintl.dll.a"
  # iconv for GMime: GLib's own win_iconv as iconv.dll (GLib compiles the same file into itself).
  unpack glib2.0
  cp "$here/shims/iconv.h" "$prefix/include/"
  $host-gcc -O2 -shared -o "$prefix/bin/iconv.dll" glib/win_iconv.c \
    -Wl,--out-implib,"$prefix/lib/libiconv.dll.a"
}

step_libffi() {
  unpack libffi
  "${nice_cmd[@]}" ./configure "${configure_cross[@]}" --disable-static --enable-shared --disable-docs --disable-multi-os-directory
  "${nice_cmd[@]}" make -j"$jobs"
  make install
}

step_pcre2() {
  unpack pcre2
  "${nice_cmd[@]}" ./configure "${configure_cross[@]}" --disable-static --enable-shared \
    --enable-pcre2-8 --disable-pcre2-16 --disable-pcre2-32 --disable-pcre2grep-libz --disable-pcre2grep-libbz2
  "${nice_cmd[@]}" make -j"$jobs" libpcre2-8.la
  make install-libLTLIBRARIES install-nodist_includeHEADERS install-pkgconfigDATA
}

step_glib() {
  unpack glib2.0
  cat >cross.ini <<EOF
[binaries]
c = '$host-gcc'
cpp = '$host-g++'
ar = '$host-ar'
strip = '$host-strip'
windres = '$host-windres'
pkgconfig = 'pkg-config'

[properties]
pkg_config_libdir = ['$prefix/lib/pkgconfig', '/usr/$host/lib/pkgconfig']

[built-in options]
c_args = ['-I$prefix/include']
c_link_args = ['-L$prefix/lib']

[host_machine]
system = 'windows'
cpu_family = 'x86_64'
cpu = 'x86_64'
endian = 'little'
EOF
  "${nice_cmd[@]}" meson setup _build --cross-file cross.ini --prefix="$prefix" --libdir=lib \
    --buildtype=release --wrap-mode=nodownload -Ddefault_library=shared \
    -Dtests=false -Dinstalled_tests=false -Dnls=disabled -Dman=false -Dgtk_doc=false \
    -Dlibelf=disabled -Dsysprof=disabled -Dxattr=false -Dselinux=disabled -Dlibmount=disabled \
    -Ddtrace=false -Dsystemtap=false -Dglib_debug=disabled
  "${nice_cmd[@]}" ninja -C _build -j"$jobs"
  ninja -C _build install
}

step_gmime() {
  unpack gmime
  touch ChangeLog
  NOCONFIGURE=1 "${nice_cmd[@]}" ./autogen.sh
  cp "$here/shims/iconv-detect.h" .
  "${nice_cmd[@]}" ./configure "${configure_cross[@]}" --disable-static --enable-shared \
    --with-libiconv=native --disable-crypto --without-libidn --disable-introspection --disable-vala \
    --disable-gtk-doc --disable-glibtest ac_cv_have_iconv_detect_h=yes
  "${nice_cmd[@]}" make -j"$jobs" -C util
  "${nice_cmd[@]}" make -j"$jobs" -C gmime
  make -C gmime install
  make install-pkgconfigDATA
}

step_libpng() {
  unpack libpng1.6
  "${nice_cmd[@]}" ./configure "${configure_cross[@]}" --enable-static --disable-shared --disable-tools
  "${nice_cmd[@]}" make -j"$jobs" libpng16.la
  make install-libLTLIBRARIES install-pkgincludeHEADERS install-nodist_pkgincludeHEADERS install-pkgconfigDATA \
    install-binSCRIPTS install-header-links install-library-links install-libpng-pc install-libpng-config
}

step_wxwidgets() {
  unpack wxwidgets3.2
  # msw, static, Unicode; only the base and core libraries (no html, xml, xrc, aui, stc, richtext,
  # propgrid, ribbon, media, webview, gl, net); images through the system zlib and our libpng.
  mkdir -p _build && cd _build
  "${nice_cmd[@]}" ../configure "${configure_cross[@]}" --with-msw --disable-shared --enable-unicode \
    --with-zlib=sys --with-libpng=sys --without-libjpeg --without-libtiff --without-liblzma \
    --without-expat --with-regex=no --without-opengl --without-libcurl \
    --disable-xrc --disable-html --disable-htmlhelp --disable-aui --disable-stc \
    --disable-richtext --disable-propgrid --disable-ribbon --disable-mediactrl --disable-webview \
    --disable-sockets --disable-ipc --disable-protocols --disable-url --disable-fs_inet \
    --disable-webrequest --disable-secretstore --disable-sound --disable-joystick --disable-debugreport \
    --disable-precomp-headers --disable-tests
  "${nice_cmd[@]}" make -j"$jobs"
  make install
}

step_googletest() {
  unpack googletest
  cmake -S . -B _build -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_SYSTEM_NAME=Windows \
    -DCMAKE_C_COMPILER=$host-gcc-posix -DCMAKE_CXX_COMPILER=$host-g++-posix -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON
  "${nice_cmd[@]}" cmake --build _build -j"$jobs"
  cmake --install _build
}

step_libical() {
  unpack_upstream libical3
  # The C library alone: no GLib or C++ bindings, no ICU (RSCALE), no docs or tests. Windows has
  # no zoneinfo: zones come from the VTIMEZONE each calendar carries (what the importer reads).
  cmake -S . -B _build -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_SYSTEM_NAME=Windows \
    -DCMAKE_C_COMPILER=$host-gcc-posix -DCMAKE_CXX_COMPILER=$host-g++-posix -DCMAKE_RC_COMPILER=$host-windres \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_FIND_ROOT_PATH="$prefix;/usr/$host" \
    -DCMAKE_FIND_ROOT_PATH_MODE_PROGRAM=NEVER -DCMAKE_FIND_ROOT_PATH_MODE_LIBRARY=ONLY \
    -DCMAKE_FIND_ROOT_PATH_MODE_INCLUDE=ONLY -DCMAKE_FIND_ROOT_PATH_MODE_PACKAGE=ONLY \
    -DSHARED_ONLY=ON -DICAL_GLIB=OFF -DGOBJECT_INTROSPECTION=OFF -DICAL_GLIB_VAPI=OFF -DWITH_CXX_BINDINGS=OFF \
    -DICAL_BUILD_DOCS=OFF -DLIBICAL_BUILD_TESTING=OFF -DCMAKE_DISABLE_FIND_PACKAGE_ICU=ON \
    -DCMAKE_DISABLE_FIND_PACKAGE_BDB=ON
  "${nice_cmd[@]}" cmake --build _build -j"$jobs"
  cmake --install _build
}

for s in "${steps[@]}"; do recipe[$s]=$(recipe_of "$s"); done
if [ "${1:-}" = "--plan" ]; then
  for s in "${steps[@]}"; do
    if built "$s"; then state=built; else state="to build"; fi
    printf '%-11s %s  %s\n' "$s" "${recipe[$s]}" "$state"
  done
  exit 0
fi
mkdir -p "$cache/src" "$cache/build" "$stamps" "$prefix"/{bin,lib/pkgconfig,include}
for s in "${steps[@]}"; do
  step "$s"
done
echo "$prefix"
