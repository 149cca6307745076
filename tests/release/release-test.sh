#!/usr/bin/env bash
# Steps of the release tests that run natively:
#   release-test.sh unzip ZIP DIR            DIR holds exactly what ZIP unpacks to
#   release-test.sh fresh-prefix PROGRAM...  runs the Windows test program in a Wine prefix,
#                                            display and wineserver of its own, then ends them
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)

case "${1:-}" in
  unzip)
    rm -rf "$3" && mkdir -p "$3" && unzip -q "$2" -d "$3"
    ;;
  fresh-prefix)
    shift
    # shellcheck source=../../scripts/test-env.sh
    source "$here/../../scripts/test-env.sh"
    pellwick_env_start
    wine "$@"
    status=$?
    pellwick_env_stop
    exit $status
    ;;
  *)
    echo "usage: $0 unzip ZIP DIR | fresh-prefix PROGRAM [ARGUMENTS...]" >&2
    exit 2
    ;;
esac
