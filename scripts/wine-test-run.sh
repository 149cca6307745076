#!/usr/bin/env bash
# Runs a Windows test program under Wine, as the cross build's test launcher.
# About once in several thousand starts under load, Wine ends within a few milliseconds with a
# failure status and no output at all: the program never printed its first line. Such a start
# is made once more, and says so. A program that fails by itself fails again the second time,
# so nothing it does is hidden; only the silent start is retried.
set -uo pipefail
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
for attempt in 1 2; do
  : >"$out/stdout"
  : >"$out/stderr"
  wine "$@" > >(tee "$out/stdout") 2> >(tee "$out/stderr" >&2)
  status=$?
  wait
  if [ "$status" -eq 0 ] || [ -s "$out/stdout" ] || [ -s "$out/stderr" ] || [ "$attempt" -eq 2 ]; then
    exit "$status"
  fi
  echo "wine-test-run: Wine ended with status $status before the program wrote anything; starting it once more" >&2
done
