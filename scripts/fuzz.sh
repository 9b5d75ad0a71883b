#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each of them for an equal share of a total
# wall-clock budget, starting from a scratch copy of its committed seed corpus.
# Usage: scripts/fuzz.sh [SECONDS]   (default 360: one minute for each of the six targets)
#
# Prints per target the executions, the final coverage (libFuzzer's "cov:" and "ft:"), the
# size of the scratch corpus and the findings. Any crash, sanitizer report, timeout or
# out-of-memory input is copied into fuzz/regression/<target>/ (where tests/fuzz replays it),
# printed, and makes the script exit with status 1. The committed corpus is never changed.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
budget="${1:-360}"
if ! [[ "$budget" =~ ^[0-9]+$ ]] || [ "$budget" -lt 1 ]; then
  echo "usage: scripts/fuzz.sh [SECONDS]  (a whole number of seconds, at least 1)" >&2
  exit 2
fi

# Target, the longest input it is given, and whether the document dictionary helps it.
targets=(lexer_fuzz number_fuzz type_info_fuzz dictionary_fuzz bin_fuzz document_fuzz)
declare -A max_len=([lexer_fuzz]=4096 [number_fuzz]=256 [type_info_fuzz]=4096
                    [dictionary_fuzz]=2048 [bin_fuzz]=4096 [document_fuzz]=8192)
declare -A use_dict=([lexer_fuzz]=1 [document_fuzz]=1)

"$root/scripts/install-deps.sh" cmake ninja-build clang libclang-rt-14-dev

build="$root/build/fuzz"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DQVX_FUZZ=ON -DQVX_TESTS=OFF -DQVX_BENCH=OFF \
  -DQVX_EXAMPLES=OFF >/dev/null
ninja -C "$build" -j "${QVX_FUZZ_BUILD_JOBS:-2}" "${targets[@]}"

share=$((budget / ${#targets[@]}))
[ "$share" -ge 1 ] || share=1
work="$build/work"
rm -rf "$work"
echo "Fuzzing ${#targets[@]} targets for ${share} s each"

failed=0
summary=()
for target in "${targets[@]}"; do
  dir="$work/$target"
  mkdir -p "$dir/corpus" "$dir/artifacts"
  cp -R "$root/fuzz/corpus/$target/." "$dir/corpus/"
  options=(-max_total_time="$share" -timeout=10 -rss_limit_mb=2048 -max_len="${max_len[$target]}"
           -print_final_stats=1 -artifact_prefix="$dir/artifacts/")
  [ -n "${use_dict[$target]:-}" ] && options+=(-dict="$root/fuzz/document.dict")
  echo "== $target"
  status=0
  "$build/fuzz/$target" "${options[@]}" "$dir/corpus" >"$dir/log.txt" 2>&1 || status=$?

  last="$(grep -E '^#[0-9]+.*cov: ' "$dir/log.txt" | tail -n 1 || true)"
  cov="$(sed -nE 's/.* cov: ([0-9]+).*/\1/p' <<<"$last")"
  ft="$(sed -nE 's/.* ft: ([0-9]+).*/\1/p' <<<"$last")"
  execs="$(sed -nE 's/^stat::number_of_executed_units: ([0-9]+).*/\1/p' "$dir/log.txt" | tail -n 1)"
  corpus_files="$(find "$dir/corpus" -type f | wc -l)"
  corpus_bytes="$(du -sb "$dir/corpus" | cut -f1)"
  findings=0
  for artifact in "$dir"/artifacts/*; do
    [ -f "$artifact" ] || continue
    findings=$((findings + 1))
    mkdir -p "$root/fuzz/regression/$target"
    cp "$artifact" "$root/fuzz/regression/$target/"
    echo "Finding of $target: fuzz/regression/$target/$(basename "$artifact")"
    od -A d -c "$artifact" | head -n 40
  done
  if [ "$status" -ne 0 ] || [ "$findings" -ne 0 ]; then
    failed=1
    echo "$target failed (exit status $status); the end of its log:"
    tail -n 60 "$dir/log.txt"
  fi
  summary+=("$(printf '%-16s execs %-10s cov %-6s ft %-7s corpus %s files, %s bytes  findings %s' \
    "$target" "${execs:-?}" "${cov:-?}" "${ft:-?}" "$corpus_files" "$corpus_bytes" "$findings")")
done

echo
printf '%s\n' "${summary[@]}"
if [ "$failed" -ne 0 ]; then
  echo "Fuzzing found faults: see above."
  exit 1
fi
echo "Fuzzing found nothing."
