#!/usr/bin/env bash
# Times gentext on a large generated .bin file: builds Release, writes the input with the
# project's own encoder (qvx_gentext_bench, which also times the writer in process), then
# converts it with the tool, first without dictionaries and then with a Hash.txt naming every
# object beside a copy of the tool. Prints wall time, MB/s in and out and peak memory.
#
#   scripts/bench_gentext.sh [object count] [work folder]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
count=${1:-300000}
work=${2:-$(mktemp -d)}
build="$root/build/bench-gentext"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQVX_TESTS=OFF \
  -DQVX_BENCH=ON >/dev/null
ninja -j2 -C "$build" QVXBinTool qvx_gentext_bench >/dev/null

mkdir -p "$work/plain" "$work/named"
echo "== Input ($count objects) and the writer in process"
"$build/bench/qvx_gentext_bench" "$work" "$count"
cp "$build/commands/QVXBinTool" "$work/named/"
cp "$work/Hash.txt" "$work/named/"

run() {
  local label=$1 tool=$2 output=$3
  local stats
  stats=$(mktemp)
  /usr/bin/time -v "$tool" gentext "$work/bench.bin" "$output" >/dev/null 2>"$stats"
  local in_bytes out_bytes seconds cpu peak_kb
  in_bytes=$(stat -c %s "$work/bench.bin")
  out_bytes=$(stat -c %s "$output")
  seconds=$(awk -F': ' '/Elapsed \(wall clock\)/ {
    n = split($2, t, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + t[i]; print s }' "$stats")
  cpu=$(awk -F': ' '/(User|System) time/ { s += $2 } END { print s }' "$stats")
  peak_kb=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$stats")
  rm -f "$stats"
  awk -v l="$label" -v i="$in_bytes" -v o="$out_bytes" -v s="$seconds" -v c="$cpu" \
    -v p="$peak_kb" 'BEGIN {
      printf "%-16s %6.2f s (cpu %6.2f s)  in %6.1f MB (%5.1f MB/s)  out %6.1f MB (%5.1f MB/s)  peak %5.0f MB\n",
             l, s, c, i / 1e6, i / 1e6 / s, o / 1e6, o / 1e6 / s, p / 1024 }'
}

echo "== gentext"
run "no dictionaries" "$build/commands/QVXBinTool" "$work/plain/bench.txt"
run "with Hash.txt" "$work/named/QVXBinTool" "$work/named/bench.txt"
echo "Files are in $work"
