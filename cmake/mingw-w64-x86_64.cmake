# cmake/mingw-w64-x86_64.cmake - cross-builds the 64-bit Windows executable with MinGW-w64.
#
# Uses Debian's posix-thread MinGW-w64 compilers (package g++-mingw-w64-x86-64-posix). Libraries
# and packages are looked up only under the MinGW sysroot and under QVX_TARGET_PREFIX, where
# scripts/windows.sh installs the GoogleTest built for Windows. Test programs run under Wine:
# the emulator keeps Wine quiet, headless and in its own prefix (QVX_WINEPREFIX, by default
# inside the build folder), so nothing outside the build folder is touched.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QVX_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QVX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QVX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QVX_MINGW_TRIPLE}-windres)

# Passed on to the try_compile projects that CMake builds while it checks the compiler.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QVX_TARGET_PREFIX QVX_WINEPREFIX)

set(CMAKE_FIND_ROOT_PATH /usr/${QVX_MINGW_TRIPLE})
if(QVX_TARGET_PREFIX)
  list(APPEND CMAKE_FIND_ROOT_PATH ${QVX_TARGET_PREFIX})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

if(NOT QVX_WINEPREFIX)
  set(QVX_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
endif()
find_program(QVX_WINE_PROGRAM NAMES wine)
if(QVX_WINE_PROGRAM)
  # No display: Wine must never open a window or wait for one. mscoree and mshtml are left
  # out so that creating the prefix does not offer to install Mono or Gecko.
  set(CMAKE_CROSSCOMPILING_EMULATOR
      env -u DISPLAY -u WAYLAND_DISPLAY WINEDEBUG=-all WINEARCH=win64 WINEPREFIX=${QVX_WINEPREFIX}
      "WINEDLLOVERRIDES=mscoree,mshtml=" ${QVX_WINE_PROGRAM})
endif()
