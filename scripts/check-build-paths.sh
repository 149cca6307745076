#!/usr/bin/env bash
# Fails when an executable names a folder of the machine that built it.
#   check-build-paths.sh FILE FOLDER...
# FOLDER: the source tree, the build tree, the OpenSSL cache, $HOME. A folder shorter than
# five characters ("/", "/tmp") is skipped, since it would match ordinary text.
set -uo pipefail
file=$1
shift
[ -f "$file" ] || { echo "check-build-paths: no file $file" >&2; exit 2; }
texts=$(strings -a -n 5 "$file"; strings -a -n 5 -e l "$file")
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
