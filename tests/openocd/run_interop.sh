#!/bin/sh
# OpenOCD's arm7tdmi or arm920t target against romsmith-simboard
# --remote-bitbang.
# Usage: run_interop.sh SIMBOARD_PROGRAM little|big [arm7|arm9]
# Fails on any error line of OpenOCD and on a failed check.
set -u
simboard=$1
endian=$2
core=${3:-arm7}
case $core in
  arm7) target=arm7tdmi idcode=0x3f0f0f0f ram=0x0C000000 template=board.ini.in bytes=65536 ;;
  # OpenOCD moves ARM9 memory one word per system-speed access: less data
  # keeps the run short.
  arm9) target=arm920t idcode=0x0032409d ram=0x30000000 template=board-arm9.ini.in bytes=16384 ;;
  *) echo "unknown core $core" >&2; exit 2 ;;
esac
here=$(cd "$(dirname "$0")" && pwd)
if ! command -v openocd >/dev/null 2>&1; then
  echo "openocd is not installed (Debian package openocd)" >&2
  exit 1
fi
work=$(mktemp -d)
server=
cleanup() {
  [ -n "$server" ] && kill "$server" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
Endian=Little
[ "$endian" = big ] && Endian=Big
sed "s/@ENDIAN@/$Endian/" "$here/$template" > "$work/board.ini"
head -c $bytes /dev/urandom > "$work/random.bin"
head -c $bytes /dev/urandom > "$work/image.bin"

# A free port: let the kernel pick one by trying from a random start.
port=$(( 20000 + $$ % 20000 ))
for attempt in 1 2 3 4 5 6 7 8 9 10; do
  "$simboard" --board "$work/board.ini" --remote-bitbang "$port" \
      > "$work/simboard.out" 2> "$work/simboard.err" &
  server=$!
  for wait in 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20; do
    grep -q serving "$work/simboard.err" 2>/dev/null && break
    kill -0 "$server" 2>/dev/null || break
    sleep 0.1
  done
  grep -q serving "$work/simboard.err" && break
  server=
  port=$((port + 1))
done
if [ -z "$server" ]; then
  echo "romsmith-simboard did not start:" >&2
  cat "$work/simboard.err" >&2
  exit 1
fi

SIMBOARD_PORT=$port SIMBOARD_ENDIAN=$endian SIMBOARD_RANDOM="$work/random.bin" \
SIMBOARD_CORE=$core SIMBOARD_TARGET=$target SIMBOARD_IDCODE=$idcode SIMBOARD_RAM=$ram \
SIMBOARD_IMAGE="$work/image.bin" SIMBOARD_DUMP="$work/dump.bin" \
  timeout 300 openocd -f "$here/simboard.cfg" -f "$here/interop.tcl" > "$work/openocd.log" 2>&1
status=$?
wait "$server"
server_status=$?
server=
cat "$work/openocd.log"
echo "--- romsmith-simboard counters"
cat "$work/simboard.out"
if [ $status -ne 0 ]; then
  echo "FAIL: openocd exited with $status" >&2
  exit 1
fi
if grep -Eq '(^|: )Error' "$work/openocd.log"; then
  echo "FAIL: openocd reported errors" >&2
  exit 1
fi
if ! grep -q "interop checks passed" "$work/openocd.log"; then
  echo "FAIL: the checks did not run to the end" >&2
  exit 1
fi
if [ $server_status -ne 0 ]; then
  echo "FAIL: romsmith-simboard exited with $server_status" >&2
  exit 1
fi
# What OpenOCD read back from RAM is what it loaded.
if [ -f "$work/dump.bin" ] && ! cmp "$work/random.bin" "$work/dump.bin"; then
  echo "FAIL: the RAM read back differs from what was loaded" >&2
  exit 1
fi
# The image in the board's flash file is what was programmed.
if ! cmp -n $bytes "$work/image.bin" "$work/flash.bin"; then
  echo "FAIL: the flash image file does not hold the programmed data" >&2
  exit 1
fi
echo "PASS ($core, $endian-endian)"
