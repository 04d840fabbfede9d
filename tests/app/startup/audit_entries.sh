#!/usr/bin/env bash
# The screen audit runs as several tests, each naming the suite's functions
# it runs: a function named by none of them would never run. Arguments: the
# suite's program, then every function the tests name.
set -euo pipefail
program="$1"
shift
listed="$(printf '%s\n' "$@" | sort)"
# "-functions" prints "name()" per line, leaving out Qt Test's own init and
# cleanup functions.
own="$("$program" -functions | sed -n 's/^\([A-Za-z0-9_]*\)()$/\1/p' | sort)"
left="$(comm -23 <(echo "$own") <(echo "$listed"))"
unknown="$(comm -13 <(echo "$own") <(echo "$listed"))"
if [ -n "$left" ] || [ -n "$unknown" ]; then
  [ -z "$left" ] || echo "audit entries: run by no test: $(echo $left)"
  [ -z "$unknown" ] || echo "audit entries: named but not in the suite: $(echo $unknown)"
  exit 1
fi
echo "audit entries: every function of the suite is run ($(echo "$own" | wc -l))"
