#!/usr/bin/env bash
# The main job on the virtual board; until the command line exists it shows
# what the program knows.
set -euo pipefail
build=${1:-build}
stage="$build/romsmith"
if [[ -x "$stage/romsmith-cli" ]]; then
  exec "$stage/romsmith-cli" --version
fi
echo "Romsmith program directory: $stage"
exec "$build/tools/romsmith-catalog" "$stage"
