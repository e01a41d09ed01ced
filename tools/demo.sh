#!/usr/bin/env bash
# The main job on the default virtual board: program the demo image through
# the staged command line with the example S3C44B0X + Am29LV160DB target
# (auto erase, auto verify), verify it once more and take its checksum. When
# a piece of the program directory is missing, show what is there, say which
# piece is missing and exit 1: the main job did not run.
set -euo pipefail
build=${1:-build}
stage="$build/romsmith"
cli="$stage/romsmith-cli"
cfg="$stage/examples/s3c44b0x-am29lv160db.cfg"
image="$stage/examples/demo.bin"
# A profile of the demo's own, so the user's options do not change the run.
export ROMSMITH_PROFILE="$build/demo-profile.ini"

missing=()
[[ -x "$cli" ]] || missing+=("the command line romsmith-cli")
[[ -f "$stage/drivers/osprey7.so" ]] || missing+=("the osprey7 driver module (drivers/osprey7.so)")
[[ -f "$stage/ports/simboard/portcall.so" ]] ||
  missing+=("the virtual board port library (ports/simboard/portcall.so)")
[[ -f "$stage/ports/simboard/board.ini" ]] ||
  missing+=("the default virtual board file (ports/simboard/board.ini)")
[[ -f "$stage/parl.mdl" ]] || missing+=("the flash loaders (parl.mdl for the S3C44B0X)")

if ((${#missing[@]} == 0)); then
  echo "== program $image (sectors 1-4 hold the 48 KiB image)"
  "$cli" --yes -c "$cfg" -f "$image" -s 1-4 --auto-erase --auto-verify program
  echo "== verify"
  "$cli" -c "$cfg" -f "$image" -s 1-4 verify
  echo "== checksum"
  "$cli" -c "$cfg" -s 1-4 checksum
  exit 0
fi

echo "Romsmith program directory: $stage"
if [[ -x "$cli" ]]; then
  "$cli" --version
  echo "== driver modules"
  "$cli" drivers || true
fi
if [[ -x "$build/tools/romsmith-catalog" ]]; then
  echo "== databases"
  "$build/tools/romsmith-catalog" "$stage" || true
fi
echo
echo "The main job (program, verify and checksum of examples/demo.bin on the virtual board) needs"
for piece in "${missing[@]}"; do
  echo "  missing: $piece"
done
echo "which is not staged yet."
exit 1
