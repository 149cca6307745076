#!/usr/bin/env bash
# Copies the pictures that the Windows tests take of the real program into docs/screenshots,
# compressed and without time stamps. Take them first, under Wine (see scripts/test-env.sh):
#   ctest --test-dir build/windows -R 'ProgramRuns|AppInProcess|HostCheckPictures'
#   scripts/update-screenshots.sh [FOLDER]   (default: build/windows/artifacts/screenshots)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
from=${1:-${PELLWICK_BUILD:-$root/build}/windows/artifacts/screenshots}
to=$root/docs/screenshots
compgen -G "$from/*.png" >/dev/null || { echo "no pictures in $from: run the tests first" >&2; exit 1; }
mkdir -p "$to"
for png in "$from"/*.png; do
  convert "$png" -strip -define png:exclude-chunks=date,time -define png:compression-level=9 \
    "$to/$(basename "$png")"
done
ls "$to"
