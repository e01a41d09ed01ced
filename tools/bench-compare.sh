#!/usr/bin/env bash
# Before and after: the virtual board's key benchmarks (1 MiB program and
# verify through romsmith-cli, the core's instruction rate) of two builds,
# run in turns so that both meet the same machine, ROUNDS times each. Prints
# the best figure of each side and how many times faster the second is.
#
# usage: tools/bench-compare.sh BEFORE_BUILD AFTER_BUILD [ROUNDS]
# (each a build directory whose benchmarks are built: `make bench` there)
set -euo pipefail

if [ $# -lt 2 ]; then
  echo "usage: $0 BEFORE_BUILD AFTER_BUILD [ROUNDS]" >&2
  exit 2
fi
before=$1
after=$2
rounds=${3:-3}
for build in "$before" "$after"; do
  for bench in flash_program_bench simboard_core_bench; do
    if [ ! -x "$build/bench/$bench" ]; then
      echo "$0: $build/bench/$bench is not built" >&2
      exit 2
    fi
  done
done

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
for ((round = 1; round <= rounds; round++)); do
  echo "round $round of $rounds" >&2
  for side in before after; do
    build=${!side}
    "$build/bench/flash_program_bench" >>"$out/$side" 2>/dev/null || true
    "$build/bench/simboard_core_bench" 2>/dev/null | grep '^BM_' >>"$out/$side" || true
  done
done

# best FILE KEY: the least CPU seconds of a command line ("program of 1 MiB:
# ... 2.49 s CPU"), or the most instructions per second of a core benchmark.
best() {
  awk -v key="$2" '
    index($0, key) == 1 && / s CPU/ {
      for (i = 1; i < NF; ++i) if ($(i + 1) == "s" && $(i + 2) ~ /^CPU/) v = $i
      if (best == "" || v < best) best = v
    }
    $1 == key {
      for (i = 2; i <= NF; ++i) if ($i ~ /^instructions\/s=/) {
        v = $i; sub(/^instructions\/s=/, "", v); sub(/M\/s$/, "", v)
        if (best == "" || v > best) best = v
      }
    }
    END { print best }' "$1"
}

printf '%-40s %10s %10s %8s\n' "best of $rounds rounds" before after ratio
row() {
  local label=$1 key=$2 lower_is_better=$3
  local b a
  b=$(best "$out/before" "$key")
  a=$(best "$out/after" "$key")
  if [ -z "$b" ] || [ -z "$a" ]; then
    printf '%-40s %10s %10s %8s\n' "$label" "${b:--}" "${a:--}" "-"
    return
  fi
  awk -v l="$label" -v b="$b" -v a="$a" -v low="$lower_is_better" 'BEGIN {
    r = (low == 1) ? b / a : a / b
    printf "%-40s %10s %10s %7.2fx\n", l, b, a, r
  }'
}
row "program + verify 1 MiB, CPU s" "program + verify:" 1
row "  program, CPU s" "program of 1 MiB:" 1
row "  verify, CPU s" "verify of 1 MiB:" 1
row "program by whole sectors, CPU s" "program by whole sectors of 1 MiB:" 1
row "core, ARM, fast memory, M instr/s" BM_ArmLoopFastMemory 0
row "core, THUMB, fast memory, M instr/s" BM_ThumbLoopFastMemory 0
row "core, ARM, through the bus, M instr/s" BM_ArmLoopThroughBus 0
row "core, THUMB, through the bus, M instr/s" BM_ThumbLoopThroughBus 0
echo "(ratio: how many times faster the second build is)"
