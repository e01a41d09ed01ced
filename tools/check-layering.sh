#!/bin/sh
# Checks the direction of the #include "..." lines of the source tree: a
# folder may include its own headers and those of the folders below it in
#   platform < formats < target_data < reporting < driver_host < operations < app, cli
# and never one above it; the front ends (app, cli) end at the Workbench and
# include neither driver_host/ nor formats/; the driver modules use only
# driver_api/ and platform/; the virtual board shares nothing with the
# drivers, their contract or the loaders. Tests may reach anything.
# Usage: check-layering.sh SOURCE_DIR; prints each wrong line, exits 1 if any.
root=${1:-.}
cd "$root" || exit 2

find platform formats target_data reporting driver_host operations app cli drivers simboard \
     ports -name '*.h' -o -name '*.cpp' -o -name '*.c' 2>/dev/null |
  grep -Ev '(_test\.cpp$|/tests?/|/testing/|/fuzz/)' |
  xargs grep -Hn '^#include "' |
  awk -F: '
    BEGIN {
      n = split("platform formats target_data reporting driver_host operations app cli", chain, " ")
      for (i = 1; i <= n; i++) level[chain[i]] = (i < 8 ? i : 7)
      level["driver_api"] = 0  # a leaf contract below everything that uses it
    }
    {
      split($1, from, "/"); folder = from[1]
      line = substr($0, length($1) + length($2) + 3)
      if (match(line, /"[^"]*"/) == 0) next
      target = substr(line, RSTART + 1, RLENGTH - 2)
      if (index(target, "/") == 0) next  # a generated or local file
      split(target, to, "/"); used = to[1]
      if (used == folder) next
      wrong = ""
      if (folder == "drivers" && used != "driver_api" && used != "platform")
        wrong = "a driver module uses only driver_api/ and platform/"
      else if (folder == "simboard" && (used == "drivers" || used == "driver_api" || used == "loaders"))
        wrong = "the virtual board shares nothing with the drivers"
      else if ((folder == "app" || folder == "cli") && (used == "driver_host" || used == "formats"))
        wrong = "the front ends end at the Workbench"
      else if ((folder in level) && (used in level) && level[used] >= level[folder] && folder != "drivers")
        wrong = used "/ is not below " folder "/"
      if (wrong != "") { print $1 ":" $2 ": " target ": " wrong; bad = 1 }
    }
    END { exit bad }'
