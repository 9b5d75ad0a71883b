#!/usr/bin/env bash
# Builds QVXBinTool and runs it on the bundled example game folder (examples/).
# Installs the Debian packages it needs when they are missing.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/install-deps.sh" cmake ninja-build g++

build="$root/build/demo"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQVX_TESTS=OFF -DQVX_BENCH=OFF >/dev/null
cmake --build "$build" --target QVXBinTool
tool="$build/commands/QVXBinTool"

# The conversions of the example game folder come with the gentext and genbin commands; until
# then the tool shows what it offers.
"$tool" || true
