#!/usr/bin/env bash
# Times QVXBinTool side by side with protoc and flatc on one generated workload.
#
#   bench/run.sh [objects=200000] [runs=5]
#
# 1. Builds a Release QVXBinTool and qvx_workload in build/bench-run (build/bench is taken: it
#    is the bench/ folder of a tree configured in build/), and installs protoc and flatc when
#    they are missing.
# 2. Writes the workload (bench/workload_gen.cpp) into build/bench-run/work-<objects>: the same
#    objects as a .bin file, as protobuf (wire and text) and as FlatBuffers JSON.
# 3. Checks every program before timing it (bench/check_workload.sh): gentext then genbin gives
#    back the .bin bytes; protoc --decode prints workload.pbtxt exactly and protoc --encode of
#    it gives workload.pb; flatc's binary decodes to JSON that encodes back to the same bytes.
#    Stops on a mismatch.
# 4. Times, in alternating order within each run, the decode direction (gentext, protoc
#    --decode, flatc --json), the encode direction (genbin, protoc --encode, flatc -b) and
#    buildtlib on the game folder and on a bigger folder of copies of the file (about 1 GiB,
#    at most 64 copies; QVX_BENCH_COPIES overrides the count), each under /usr/bin/time, with
#    its previous output removed and after a sync, so that no program pays for freeing an old
#    output or waits for the previous program's output to reach the disk.
# 5. Prints medians: seconds, objects/s, MB/s in and out, peak MiB, tool/peer ratios, and
#    whether the tool's peak stays within 2 x input + output.
#
# Raw measurements go to <work>/times.tsv. Needs bash, python3 and GNU time besides the build.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
objects=${1:-200000}
runs=${2:-5}
build="$root/build/bench-run"
work="$build/work-$objects"

"$root/scripts/install-deps.sh" cmake ninja-build g++ time python3 protobuf-compiler \
  flatbuffers-compiler

echo "== Build (Release) in ${build#"$root/"}"
mkdir -p "$build"
if ! { cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQVX_TESTS=OFF \
  -DQVX_BENCH=OFF && cmake --build "$build" -j 2 --target QVXBinTool qvx_workload; } \
  >"$build/build.log" 2>&1; then
  tail -n 30 "$build/build.log" >&2
  echo "FAILED: the build (whole log: ${build#"$root/"}/build.log)" >&2
  exit 1
fi

echo "== Workload of $objects objects in ${work#"$root/"}, and the checks"
"$root/bench/check_workload.sh" "$build/commands/QVXBinTool" "$build/bench/qvx_workload" \
  "$work" "$objects" --need-peers
tool="$work/tool/QVXBinTool"
out="$work/out"
proto=(--proto_path="$work" "$work/workload.proto")
message=workload.Workload
fail() {
  echo "FAILED: $*" >&2
  exit 1
}

# A bigger game folder for buildtlib: copies of the file in subfolders.
bin_bytes=$(stat -c %s "$work/game/workload.bin")
copies=${QVX_BENCH_COPIES:-$(((1073741824 + bin_bytes - 1) / bin_bytes))}
if [ -z "${QVX_BENCH_COPIES:-}" ] && [ "$copies" -gt 64 ]; then
  copies=64
fi
if [ "$copies" -lt 2 ]; then
  copies=2
fi
free_kb=$(df -Pk "$work" | awk 'NR == 2 { print $4 }')
while [ "$copies" -gt 2 ] && [ $((copies * bin_bytes / 1024 * 2)) -gt "$free_kb" ]; do
  copies=$((copies / 2))
done
for ((i = 0; i < copies; i++)); do
  mkdir -p "$work/big/part$((i % 8))/copy$i"
  cp "$work/game/workload.bin" "$work/big/part$((i % 8))/copy$i/workload.bin"
done
big_bytes=$((copies * bin_bytes))
echo "big folder: $copies copies of workload.bin, $((big_bytes / 1048576)) MiB"

# One timed run: measure <label> <input bytes> <output file> <command...>, with stdin and
# stdout given by the caller through the variables stdin_from and stdout_to.
times="$work/times.tsv"
printf 'label\trun\tseconds\tcpu_seconds\tpeak_kib\tin_bytes\tout_bytes\n' >"$times"
measure() {
  local label=$1 in_bytes=$2 output=$3
  shift 3
  local stats="$work/time.out" seconds user system peak
  # Whatever the previous program left to write back goes to disk first, untimed, so that no
  # program's run is slowed by writing back another's output. The previous run's output is
  # removed first too: freeing a file of a few hundred MB takes tens of ms, which the tool
  # paid when its rename replaced it while protoc's did not (the shell truncates protoc's
  # output before the timed program starts); and the tool makes an output that replaces a
  # file durable (fsync before the rename), which a new one does not need.
  rm -f "$output"
  sync
  if ! /usr/bin/time -f '%e %U %S %M' -o "$stats" "$@" <"${stdin_from:-/dev/null}" \
    >"${stdout_to:-/dev/null}"; then
    fail "$label (run $run): $*"
  fi
  read -r seconds user system peak <"$stats"
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$label" "$run" "$seconds" \
    "$(awk -v u="$user" -v s="$system" 'BEGIN { print u + s }')" "$peak" "$in_bytes" \
    "$(stat -c %s "$output")" >>"$times"
  stdin_from=
  stdout_to=
}

size() { stat -c %s "$1"; }
echo "== Timing: $runs runs, alternating"
for ((run = 1; run <= runs; run++)); do
  echo "run $run of $runs"
  measure "gentext" "$(size "$work/game/workload.bin")" "$out/t.txt" \
    "$tool" gentext "$work/game/workload.bin" "$out/t.txt"
  stdin_from="$work/workload.pb" stdout_to="$out/t.pbtxt"
  measure "protoc --decode" "$(size "$work/workload.pb")" "$out/t.pbtxt" \
    protoc --decode="$message" "${proto[@]}"
  measure "flatc --json" "$(size "$out/fb/workload.fb")" "$out/tj/workload.json" \
    flatc --json --raw-binary -o "$out/tj" "$work/workload.fbs" -- "$out/fb/workload.fb"

  measure "genbin" "$(size "$out/workload.txt")" "$out/t.bin" \
    "$tool" genbin "$out/workload.txt" "$out/t.bin"
  stdin_from="$work/workload.pbtxt" stdout_to="$out/t.pb"
  measure "protoc --encode" "$(size "$work/workload.pbtxt")" "$out/t.pb" \
    protoc --encode="$message" "${proto[@]}"
  measure "flatc -b" "$(size "$work/workload.json")" "$out/tb/workload.fb" \
    flatc -b -o "$out/tb" "$work/workload.fbs" "$work/workload.json"

  measure "buildtlib game" "$bin_bytes" "$out/game.tl" \
    "$tool" buildtlib "$work/game" "$out/game.tl"
  measure "buildtlib big" "$big_bytes" "$out/big.tl" \
    "$tool" buildtlib "$work/big" "$out/big.tl"
done

echo
echo "== Medians of $runs runs, $objects objects (MB = 10^6 bytes; big folder: $copies copies)"
python3 - "$times" "$objects" "$copies" <<'EOF'
import csv, statistics, sys

path, objects, copies = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
rows = {}
with open(path) as f:
    for r in csv.DictReader(f, delimiter="\t"):
        rows.setdefault(r["label"], []).append(r)

med = {}
for label, rs in rows.items():
    med[label] = {
        "s": statistics.median(float(r["seconds"]) for r in rs),
        "cpu": statistics.median(float(r["cpu_seconds"]) for r in rs),
        "kib": statistics.median(float(r["peak_kib"]) for r in rs),
        "in": int(rs[0]["in_bytes"]),
        "out": int(rs[0]["out_bytes"]),
    }

# Each peer is compared with the tool command of the same direction.
groups = [("decode", "gentext", ["protoc --decode", "flatc --json"]),
          ("encode", "genbin", ["protoc --encode", "flatc -b"]),
          ("types", "buildtlib game", ["buildtlib big"])]
head = ("%-8s %-16s %7s %7s %8s %8s %10s %8s %8s %8s %9s %8s %8s %9s %5s" %
        ("dir", "command", "in MB", "out MB", "seconds", "cpu s", "objects/s", "in MB/s",
         "out MB/s",
         "peak MiB", "tool/peer", "cpu t/p", "mem t/p", "bound MiB", "holds"))
print(head)
print("-" * len(head))
for direction, tool, peers in groups:
    t = med[tool]
    for label in [tool] + peers:
        m = med[label]
        s = max(m["s"], 0.005)  # /usr/bin/time reports 10 ms steps
        count = objects * (copies if label == "buildtlib big" else 1)
        peak = m["kib"] / 1024
        bound = (2 * m["in"] + m["out"]) / 1048576
        is_tool = label in ("gentext", "genbin") or label.startswith("buildtlib")
        ratio = cpu = mem = ""
        if label in peers and not label.startswith("buildtlib"):
            ratio = "%.2f" % (max(t["s"], 0.005) / s)
            cpu = "%.2f" % (max(t["cpu"], 0.005) / max(m["cpu"], 0.005))
            mem = "%.2f" % (t["kib"] / m["kib"])
        print("%-8s %-16s %7.1f %7.1f %8.3f %8.3f %10.0f %8.1f %8.1f %8.1f %9s %8s %8s %9.1f %5s" %
              (direction, label, m["in"] / 1e6, m["out"] / 1e6, m["s"], m["cpu"], count / s,
               m["in"] / 1e6 / s, m["out"] / 1e6 / s, peak, ratio, cpu, mem, bound,
               ("yes" if peak <= bound else "NO") if is_tool else "-"))
print()
print("seconds: wall time; cpu s: user + system time. tool/peer: the tool's median wall time "
      "(cpu t/p: CPU time, mem t/p: peak memory) over the peer's; above 1 the tool is slower "
      "or bigger.")
print("bound: 2 x input + output, checked for the tool's commands (buildtlib: input = every .bin "
      "read).")
EOF
echo "Raw times: ${times#"$root/"}"
