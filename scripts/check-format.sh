#!/usr/bin/env bash
# Fails, naming the files, when a tracked C or C++ file differs from the house format
# (.clang-format at the top of the tree).
set -uo pipefail
cd "$(dirname "$0")/.."
command -v clang-format >/dev/null || { echo "check-format: clang-format is not installed" >&2; exit 2; }
git ls-files -z '*.c' '*.cpp' '*.h' | xargs -0 clang-format --dry-run -Werror
