#!/usr/bin/env bash
# Fails when an executable names a folder of the machine that built it (or another text it
# must not hold).
#   check-build-paths.sh [--strip STRIP] FILE FOLDER...
# FOLDER: the source tree, the build tree, the OpenSSL cache, $HOME. A folder shorter than
# five characters ("/", "/tmp") is skipped, since it would match ordinary text.
# With --strip, what is checked is FILE as released, without its debugging information: the
# folders in that depend on how the compiler was called (ccache names sources relative to the
# build folder), and the program never reads them.
set -uo pipefail
strip_tool=
if [ "${1:-}" = --strip ]; then
  strip_tool=$2
  shift 2
fi
file=$1
shift
[ -f "$file" ] || { echo "check-build-paths: no file $file" >&2; exit 2; }
checked=$file
if [ -n "$strip_tool" ]; then
  checked=$(mktemp)
  trap 'rm -f "$checked"' EXIT
  "$strip_tool" -o "$checked" "$file" || exit 2
fi
texts=$(strings -a -n 5 "$checked"; strings -a -n 5 -e l "$checked")
found=0
for folder in "$@"; do
  folder=${folder%/}
  [ ${#folder} -ge 5 ] || continue
  hits=$(grep -F -c -- "$folder" <<<"$texts")
  if [ "$hits" -gt 0 ]; then
    echo "$file names $folder $hits times, for example:" >&2
    grep -F -m 3 -- "$folder" <<<"$texts" | sed 's/^/    /' >&2
    found=1
  fi
done
exit $found
