#!/usr/bin/env bash
# Builds QVXBinTool and runs it on the bundled example game folder (examples/game): builds its
# type library, converts every example .bin file into a text document under build/demo/out/
# (mirroring the folder tree), converts each document back into a .bin file beside it and checks
# that the result has the original bytes. Fails when a conversion fails or a byte differs.
# Installs the Debian packages it needs when they are missing.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/install-deps.sh" cmake ninja-build g++

build="$root/build/demo"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQVX_TESTS=OFF -DQVX_BENCH=OFF >/dev/null
cmake --build "$build" --target QVXBinTool
tool="$build/commands/QVXBinTool"
tool_dir=$(dirname "$tool")
examples="$root/examples"
game="$examples/game"
out="$build/out"

# The tool looks for QVX.tl and the name dictionaries in its own folder.
echo
"$tool" buildtlib "$game" "$tool_dir/QVX.tl"
cp "$examples/Hash.txt" "$examples/qvxmain_ids.cvs" "$examples/qvxmain_en.cvs" "$tool_dir/"
echo "Name dictionaries copied to ${tool_dir#"$root/"}/"
echo

# Runs the tool; shows its output only when it fails or warns.
run() {
  local log
  if ! log=$("$tool" "$@"); then
    printf '%s\n' "$log"
    return 1
  fi
  if grep -q "warning" <<<"$log"; then
    printf '%s\n' "$log"
  fi
}

rm -rf "$out"
count=0
failures=0
while IFS= read -r -d '' bin; do
  relative=${bin#"$game/"}
  text="$out/${relative%.*}.txt"
  back="$out/$relative"
  mkdir -p "$(dirname "$text")"
  count=$((count + 1))
  if ! run gentext "$bin" "$text"; then
    echo "FAILED   $relative: gentext"
    failures=$((failures + 1))
    continue
  fi
  if ! run genbin "$text" "$back"; then
    echo "FAILED   $relative: genbin"
    failures=$((failures + 1))
    continue
  fi
  if cmp -s "$bin" "$back"; then
    echo "same     $relative -> ${text#"$root/"} -> ${back#"$root/"}"
  else
    echo "DIFFERS  $relative: ${back#"$root/"} is not byte-identical to the original"
    cmp "$bin" "$back" || true
    failures=$((failures + 1))
  fi
done < <(find "$game" -type f -iname '*.bin' -print0 | sort -z)

echo
echo "Text documents of the $count example files: ${out#"$root/"}/"
if [ "$failures" -ne 0 ]; then
  echo "$failures of $count round trips failed." >&2
  exit 1
fi
echo "All $count files convert to text and back to the same bytes."
