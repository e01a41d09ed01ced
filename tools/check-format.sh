#!/bin/sh
# Checks that the C and C++ lines changed since a base commit follow
# .clang-format (the older lines keep the layout they have). The base is
# $ROMSMITH_FORMAT_BASE, else where the branch left main, else (on main
# itself) the commit before the last; uncommitted changes count too.
# Exit 0: clean; 1: the needed changes are printed; 77: no git checkout or
# no clang-format-diff here, nothing checked.
# Usage: check-format.sh SOURCE_DIR
cd "${1:-.}" || exit 2
format_diff=$(command -v clang-format-diff || command -v clang-format-diff-14) || exit 77
git rev-parse --git-dir >/dev/null 2>&1 || exit 77

base=${ROMSMITH_FORMAT_BASE:-}
if [ -z "$base" ]; then
  if [ "$(git symbolic-ref --short -q HEAD)" = main ]; then
    base=$(git rev-parse -q --verify HEAD~1) || exit 77
  else
    base=$(git merge-base HEAD main 2>/dev/null) || exit 77
  fi
fi

changes=$(git diff -U0 --no-color "$base" -- '*.c' '*.cpp' '*.h' | "$format_diff" -p1)
if [ -n "$changes" ]; then
  printf 'Lines changed since %s that clang-format would lay out otherwise:\n%s\n' \
    "$(git rev-parse --short "$base")" "$changes"
  exit 1
fi
