#!/usr/bin/env bash
# Pictures of the desktop program: runs its window under Xvfb on a copy of
# the staged program directory and the default virtual board, and saves a
# PNG of each page and dialog and of a Program run in progress; then runs
# Check Block on the S3C2410 NAND board (osprey9) and pictures the bad-block
# list.
#   tools/screenshots.sh [BUILD_DIR] [OUTPUT_DIR]
set -euo pipefail
build=${1:-build}
out=${2:-$build/screenshots}
stage="$build/romsmith"
tour="$build/tools/romsmith-screenshots"
for piece in "$tour" "$stage/romsmith" "$stage/drivers/osprey7.so" "$stage/ports/simboard/portcall.so"; do
  [[ -e "$piece" ]] || { echo "screenshots: $piece is not built (cmake --build $build)" >&2; exit 2; }
done
command -v xvfb-run >/dev/null || { echo "screenshots: xvfb-run is missing (package xvfb)" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
stage_abs=$(cd "$stage" && pwd)
mkdir -p "$work/program"
cp "$stage"/*.xdl "$work/program/"
cp "$stage"/*.mdl "$work/program/" 2>/dev/null || true
cp -r "$stage/examples" "$stage/help" "$work/program/"
cat > "$work/program/romsmith.ini" <<INI
[Directory]
Driver=$stage_abs/ports/simboard/
Device=$stage_abs/drivers/
[Remote]
Device=osprey7.so
CommType=Parallel
Parallel=LPT1
IPAddr=
Speed=0
[Option]
RegChkPop=1
INI
cp "$stage/ports/simboard/board.ini" "$work/board.ini"
export ROMSMITH_BOARD="$work/board.ini"
export ROMSMITH_PROFILE="$work/profile.ini"
mkdir -p "$out"
xvfb-run -a -s "-screen 0 1280x1024x24" "$tour" "$work/program" "$out"

# The NAND board in a program directory and a profile of its own.
cp -r "$work/program" "$work/nand"
rm -f "$work/nand/Info.log"
sed -i 's/^Device=osprey7.so/Device=osprey9.so/' "$work/nand/romsmith.ini"
cp "$stage/ports/simboard/board-s3c2410-nand.ini" "$work/nand-board.ini"
ROMSMITH_BOARD="$work/nand-board.ini" ROMSMITH_PROFILE="$work/nand-profile.ini" \
  xvfb-run -a -s "-screen 0 1280x1024x24" "$tour" "$work/nand" "$out" nand
echo "screenshots in $out"
