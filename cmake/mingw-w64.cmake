# Cross-build for 64-bit Windows with Debian's MinGW-w64 (posix threads, so std::thread works):
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
#         -DMAILFOLD_WIN_DEPS=$(scripts/windows/build-deps.sh --print-prefix)
# MAILFOLD_WIN_DEPS is the prefix of the cross-built libraries (GLib, GMime, wxWidgets, GoogleTest).
# Test programs run through Wine (CMAKE_CROSSCOMPILING_EMULATOR).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MAILFOLD_WIN_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${MAILFOLD_WIN_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MAILFOLD_WIN_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${MAILFOLD_WIN_TRIPLET}-windres)
# 64-bit file sizes and offsets in the C runtime's stat and lseek as well; gmtime_r and
# localtime_r, which the C runtime declares only on request.
set(CMAKE_C_FLAGS_INIT "-D_FILE_OFFSET_BITS=64 -D_POSIX_THREAD_SAFE_FUNCTIONS")
set(CMAKE_CXX_FLAGS_INIT "-D_FILE_OFFSET_BITS=64 -D_POSIX_THREAD_SAFE_FUNCTIONS")

if(NOT MAILFOLD_WIN_DEPS AND DEFINED ENV{MAILFOLD_WIN_DEPS})
  set(MAILFOLD_WIN_DEPS $ENV{MAILFOLD_WIN_DEPS})
endif()
set(MAILFOLD_WIN_DEPS "${MAILFOLD_WIN_DEPS}" CACHE PATH "Prefix of the cross-built third-party libraries")
# try_compile projects re-read this file; they need the prefix too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES MAILFOLD_WIN_DEPS)

set(CMAKE_FIND_ROOT_PATH /usr/${MAILFOLD_WIN_TRIPLET})
if(MAILFOLD_WIN_DEPS)
  list(PREPEND CMAKE_FIND_ROOT_PATH ${MAILFOLD_WIN_DEPS})
  set(ENV{PKG_CONFIG_LIBDIR} "${MAILFOLD_WIN_DEPS}/lib/pkgconfig:/usr/${MAILFOLD_WIN_TRIPLET}/lib/pkgconfig")
  set(ENV{PKG_CONFIG_PATH} "")
  # FindwxWidgets asks wx-config; the one of the cross build, not the system's.
  set(wxWidgets_CONFIG_EXECUTABLE ${MAILFOLD_WIN_DEPS}/bin/wx-config CACHE FILEPATH "")
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(MAILFOLD_WINE NAMES wine64 wine)
if(MAILFOLD_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${MAILFOLD_WINE})
endif()
