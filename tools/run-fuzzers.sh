#!/usr/bin/env bash
# Runs every libFuzzer target of a fuzzing build for a set time each, from
# its committed seed corpus (DIR/fuzz/corpus/NAME) plus what earlier runs
# found (BUILD/corpus/NAME). Fails on the first crash, leak or time-out; the
# input that caused it is kept under BUILD/crashes/ for a regression test.
#   tools/run-fuzzers.sh BUILD SECONDS [NAME...]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
seconds=$2
shift 2
names=("$@")
if [[ ${#names[@]} -eq 0 ]]; then
  for fuzzer in "$build"/fuzz/*_fuzz; do names+=("$(basename "$fuzzer" _fuzz)"); done
fi
[[ ${#names[@]} -gt 0 ]] || { echo "no fuzz targets in $build/fuzz" >&2; exit 1; }

mkdir -p "$build/crashes"
summary=()
for name in "${names[@]}"; do
  fuzzer="$build/fuzz/${name}_fuzz"
  seeds=$(ls -d "$here"/*/fuzz/corpus/"$name" 2>/dev/null | head -n 1)
  [[ -x "$fuzzer" && -n "$seeds" ]] || { echo "fuzz target $name: program or seeds missing" >&2; exit 1; }
  corpus="$build/corpus/$name"
  mkdir -p "$corpus"
  log="$build/fuzz-$name.log"
  echo "fuzzing $name for ${seconds} s"
  # Each input gets 10 s and 2 GB; leaks are reported at the end of an input.
  if ! (cd "$build" && "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
          -detect_leaks=1 -print_final_stats=1 -artifact_prefix="$build/crashes/$name-" \
          "$corpus" "$seeds") > "$log" 2>&1; then
    tail -n 40 "$log"
    echo "fuzz target $name failed; the input is in $build/crashes/" >&2
    exit 1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2)
  features=$(grep -o 'ft: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2)
  summary+=("$(printf '%-14s %12s runs  %6s edges  %7s features  %6s inputs' \
    "$name" "${runs:-?}" "${cov:-?}" "${features:-?}" "$(ls "$corpus" | wc -l)")")
done
printf '%s\n' "${summary[@]}"
