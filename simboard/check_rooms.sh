#!/bin/sh
# The virtual board's folders form layers: a file includes headers of its own
# folder and of the folders below it, never of one above or beside it.
# Usage: check_rooms.sh SIMBOARD_DIR
set -eu
dir=$1
rank() {
  case $1 in
    description|memory) echo 0 ;;
    core) echo 1 ;;
    debug|nor|nand) echo 2 ;;
    onchip) echo 3 ;;
    board) echo 4 ;;
    tool) echo 5 ;;
    *) echo "" ;;
  esac
}
status=0
for room in description memory core debug nor nand onchip board tool; do
  own=$(rank "$room")
  for file in "$dir/$room"/*; do
    [ -f "$file" ] || continue
    for used in $(sed -n 's|^#include "simboard/\([a-z]*\)/.*|\1|p' "$file"); do
      [ "$used" = "$room" ] && continue
      other=$(rank "$used")
      if [ -z "$other" ] || [ "$other" -ge "$own" ]; then
        echo "$file includes simboard/$used/, which is not below $room" >&2
        status=1
      fi
    done
  done
done
# Nothing is left in the top folder but the build file, this script and the manual page.
for file in "$dir"/*; do
  [ -f "$file" ] || continue
  case $(basename "$file") in
    CMakeLists.txt|check_rooms.sh|romsmith-simboard.1) ;;
    *) echo "$file lies outside the subsystem folders" >&2; status=1 ;;
  esac
done
exit $status
