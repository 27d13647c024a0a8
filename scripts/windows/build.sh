#!/usr/bin/env bash
# The Windows programs: cross-builds the libraries when their recipe changed (build-deps.sh),
# then configures and builds Mailfold with MinGW-w64 into WIN_BUILD (build-win), Release.
#   scripts/windows/build.sh [TARGET...]   (default: the three programs)
set -euo pipefail
source "$(dirname "$0")/env.sh"
bash "$win_root/scripts/windows/install-toolchain.sh"
start=$SECONDS
bash "$win_root/scripts/windows/build-deps.sh" >/dev/null
echo "build: libraries ready in $win_deps ($((SECONDS - start))s)" >&2
start=$SECONDS
cmake -S "$win_root" -B "$win_build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$win_root/cmake/mingw-w64.cmake" \
  -DMAILFOLD_WIN_DEPS="$win_deps" -DCMAKE_BUILD_TYPE=Release -DMAILFOLD_SANITIZE=OFF >/dev/null
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(mailfold-convert mailfold-pst mailfold)
nice -n 10 cmake --build "$win_build" -j "${JOBS:-2}" --target "${targets[@]}"
echo "build: ${targets[*]} built in $((SECONDS - start))s" >&2
