#!/usr/bin/env bash
# Generates a workload with qvx_workload and checks every program on it before anything is
# timed (bench/run.sh) or as a test of the generator and the tool (ctest: WorkloadCheck).
#
#   bench/check_workload.sh <QVXBinTool> <qvx_workload> <work folder> <objects> [--need-peers]
#
# The work folder is emptied first. Checks, each stopping the script with exit status 1:
#   - the generator writes the same bytes when run again with the same count and seed;
#   - gentext then genbin gives back the bytes of game/workload.bin (the tool is copied into
#     <work>/tool with the QVX.tl of the game folder, since it reads QVX.tl from its own folder);
#   - protoc --decode of workload.pb prints workload.pbtxt exactly, and protoc --encode of that
#     text gives workload.pb;
#   - flatc -b of workload.json, decoded back to JSON and encoded again, gives the same bytes.
# Without --need-peers a missing protoc or flatc skips its check; with it, that fails.
# Leaves for bench/run.sh: <work>/tool/QVXBinTool (with QVX.tl), <work>/out/workload.txt (the
# tool's document) and <work>/out/fb/workload.fb (the FlatBuffers binary).
set -euo pipefail
if [ $# -lt 4 ]; then
  echo "usage: $0 <QVXBinTool> <qvx_workload> <work folder> <objects> [--need-peers]" >&2
  exit 2
fi
tool_built=$1
generator=$2
work=$3
objects=$4
need_peers=${5:-}

fail() {
  echo "FAILED: $*" >&2
  exit 1
}

rm -rf "$work"
mkdir -p "$work/tool" "$work/out"
"$generator" "$work" "$objects"
"$generator" "$work/again" "$objects" >/dev/null
for file in game/workload.bin workload.proto workload.pb workload.pbtxt workload.fbs \
  workload.json; do
  cmp -s "$work/$file" "$work/again/$file" || fail "qvx_workload wrote another $file on a rerun"
done
rm -rf "$work/again"
echo "qvx_workload  writes the same bytes on every run"

cp "$tool_built" "$work/tool/"
tool="$work/tool/$(basename "$tool_built")"
out="$work/out"
"$tool" buildtlib "$work/game" "$work/tool/QVX.tl" >/dev/null || fail "buildtlib"
"$tool" gentext "$work/game/workload.bin" "$out/workload.txt" >/dev/null || fail "gentext"
"$tool" genbin "$out/workload.txt" "$out/workload.bin" >/dev/null || fail "genbin"
cmp -s "$work/game/workload.bin" "$out/workload.bin" ||
  fail "gentext -> genbin does not give back the bytes of game/workload.bin"
echo "QVXBinTool    gentext -> genbin gives back workload.bin byte for byte"

# Runs the check of a peer program when it is there (or required).
have() {
  command -v "$1" >/dev/null 2>&1 && return 0
  [ "$need_peers" = "--need-peers" ] && fail "$1 is not installed"
  echo "$1 not found: its check is skipped"
  return 1
}

if have protoc; then
  proto=(--proto_path="$work" "$work/workload.proto")
  protoc --decode=workload.Workload "${proto[@]}" <"$work/workload.pb" >"$out/decoded.pbtxt" ||
    fail "protoc --decode"
  cmp -s "$work/workload.pbtxt" "$out/decoded.pbtxt" ||
    fail "protoc --decode of workload.pb differs from workload.pbtxt"
  protoc --encode=workload.Workload "${proto[@]}" <"$work/workload.pbtxt" >"$out/encoded.pb" ||
    fail "protoc --encode"
  cmp -s "$work/workload.pb" "$out/encoded.pb" ||
    fail "protoc --encode of workload.pbtxt differs from workload.pb"
  echo "protoc        --decode gives workload.pbtxt, --encode gives workload.pb, byte for byte"
fi

if have flatc; then
  flatc -b -o "$out/fb" "$work/workload.fbs" "$work/workload.json" || fail "flatc -b"
  flatc --json --raw-binary -o "$out/fbjson" "$work/workload.fbs" -- "$out/fb/workload.fb" ||
    fail "flatc --json"
  flatc -b -o "$out/fb2" "$work/workload.fbs" "$out/fbjson/workload.json" ||
    fail "flatc -b of its own JSON"
  cmp -s "$out/fb/workload.fb" "$out/fb2/workload.fb" ||
    fail "flatc: binary -> JSON -> binary does not give the same bytes"
  echo "flatc         binary -> JSON -> binary gives the same bytes"
fi
