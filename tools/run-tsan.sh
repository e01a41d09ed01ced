#!/usr/bin/env bash
# Runs the tests of the threaded parts (the worker and its Stop, the message
# log, events and the directory lock) from a ThreadSanitizer build.
#   tools/run-tsan.sh BUILD
set -euo pipefail
build=$1
programs=(message_log_test workbench_test workbench_driver_test platform_test)
cmake --build "$build" --target "${programs[@]}"
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ${TSAN_OPTIONS:-}"
for program in "${programs[@]}"; do
  echo "ThreadSanitizer: $program"
  (cd "$build" && ROMSMITH_TEST=1 "tests/$program" --gtest_brief=1) || { echo "$program failed under ThreadSanitizer" >&2; exit 1; }
done
