#!/usr/bin/env bash
# Cross-builds QVXBinTool.exe for 64-bit Windows with MinGW-w64 and tests it under Wine:
#   1. GoogleTest, built for Windows from Debian's sources (/usr/src/googletest);
#   2. QVXBinTool.exe and every test program, statically linked (checked: the executable may
#      import system DLLs only);
#   3. the whole test suite through ctest, each test program run by Wine;
#   4. the example game folder: buildtlib, gentext with default output names (folders given
#      with "\"), genbin with "/" paths, each result byte-identical to the Linux build's.
# Everything lands under build/windows/ (the executable: build/windows/commands/QVXBinTool.exe;
# Wine's prefix: build/windows/wineprefix). Installs the Debian packages it needs when they are
# missing.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/install-deps.sh" cmake ninja-build g++ googletest g++-mingw-w64-x86-64-posix \
  wine wine64

jobs=$(nproc 2>/dev/null || echo 2)
build="$root/build/windows"
toolchain="$root/cmake/mingw-w64-x86_64.cmake"
gtest="$build/_deps/googletest"
started=$SECONDS

# Wine: quiet, headless, its own prefix inside the build folder, no Mono or Gecko prompts.
export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all WINEARCH=win64 WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

echo "== GoogleTest for Windows"
if [ ! -f "$gtest/lib/cmake/GTest/GTestConfig.cmake" ]; then
  cmake -S /usr/src/googletest -B "$build/_deps/googletest-build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$gtest" \
    -DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON -Dgtest_disable_pthreads=ON >/dev/null
  cmake --build "$build/_deps/googletest-build" -j "$jobs"
  cmake --install "$build/_deps/googletest-build" >/dev/null
fi

# The test programs are listed by running them under Wine right after linking, so the prefix
# must exist first. Creating it takes a while once; a server kept alive for the whole script
# saves Wine's start-up on every one of the many short runs.
echo "== Wine prefix"
mkdir -p "$WINEPREFIX"
wineserver -w  # a server left from an earlier run ends 3 s after its last program
wineserver -p
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
trap 'exit 1' INT TERM
# A new prefix occasionally fails to start (seen once with exit status 53 right after an
# earlier prefix at the same path was deleted); stop the server and try once more.
if ! wine wineboot --init >/dev/null 2>&1; then
  wineserver -k >/dev/null 2>&1 || true
  wine wineboot --init >/dev/null 2>&1
fi

echo "== Cross build"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_BUILD_TYPE=Release -DQVX_WERROR=ON -DQVX_BENCH=OFF -DQVX_TARGET_PREFIX="$gtest" \
  -DQVX_WINEPREFIX="$WINEPREFIX" >/dev/null
cmake --build "$build" -j "$jobs"
exe="$build/commands/QVXBinTool.exe"

echo "== Imported DLLs of QVXBinTool.exe"
dlls=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' | sort -u)
echo "$dlls"
if grep -viE '^(kernel32|msvcrt|ucrtbase|api-ms-win-[a-z0-9-]+|advapi32|user32|ntdll)\.dll$' \
  <<<"$dlls"; then
  echo "QVXBinTool.exe needs DLLs beyond the system's (listed above)." >&2
  exit 1
fi

echo "== Tests under Wine"
ctest --test-dir "$build" --output-on-failure -j "$jobs"

echo "== Example game folder under Wine"
examples="$root/examples"
if [ ! -d "$examples/game" ]; then
  echo "No example game folder; skipped."
else
  # The Linux build whose outputs the Windows ones must equal: the one scripts/test.sh made, or
  # a tool-only build here.
  native="$root/build/release/commands/QVXBinTool"
  if [ ! -x "$native" ]; then
    cmake -S "$root" -B "$build/_deps/native" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQVX_TESTS=OFF \
      -DQVX_BENCH=OFF -DQVX_EXAMPLES=OFF >/dev/null
    cmake --build "$build/_deps/native" -j "$jobs" --target QVXBinTool
    native="$build/_deps/native/commands/QVXBinTool"
  fi
  stage="$build/examples"
  linux="$stage/linux"
  rm -rf "$stage"
  mkdir -p "$stage/tool" "$linux/tool"
  cp "$exe" "$stage/tool/"
  cp "$native" "$linux/tool/"
  cp "$examples/Hash.txt" "$examples/qvxmain_ids.cvs" "$examples/qvxmain_en.cvs" "$stage/tool/"
  cp "$examples/Hash.txt" "$examples/qvxmain_ids.cvs" "$examples/qvxmain_en.cvs" "$linux/tool/"
  cp -r "$examples/game" "$stage/game"
  cp -r "$examples/game" "$linux/game"

  # Run from the staging folder with relative paths, as a user in cmd.exe would.
  cd "$stage"
  wine tool/QVXBinTool.exe buildtlib "game\\" "tool\\QVX.tl"
  "$linux/tool/QVXBinTool" buildtlib "$linux/game/" "$linux/tool/QVX.tl" >/dev/null
  cmp "tool/QVX.tl" "$linux/tool/QVX.tl"

  count=0
  while IFS= read -r -d '' bin; do
    relative=${bin#"$examples/game/"}
    base=${relative%.*}
    windows_input="game\\${relative//\//\\}"
    windows_text="game\\${base//\//\\}.txt"
    # gentext derives the output name from the input's folder, with the platform's separator.
    log=$(wine tool/QVXBinTool.exe gentext "$windows_input")
    grep -qF "\"$windows_text\"" <<<"$log" || {
      printf '%s\n' "$log"
      echo "gentext $windows_input did not write $windows_text" >&2
      exit 1
    }
    "$linux/tool/QVXBinTool" gentext "$linux/game/$relative" >/dev/null
    cmp "game/$base.txt" "$linux/game/$base.txt"

    wine tool/QVXBinTool.exe genbin "game/$base.txt" "game/$base.back.bin" >/dev/null
    cmp "game/$base.back.bin" "$examples/game/$relative"
    count=$((count + 1))
  done < <(find "$examples/game" -type f -iname '*.bin' -print0 | sort -z)
  cd "$root"
  echo "All $count example files convert to text and back under Wine, byte for byte as on Linux."
fi

echo "Windows build and tests passed in $((SECONDS - started)) s."
