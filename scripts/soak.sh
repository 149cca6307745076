#!/usr/bin/env bash
# The long soak of the checker against a private Dovecot whose mailbox changes:
#   scripts/soak.sh [cycles under AddressSanitizer/LeakSanitizer] [cycles under ThreadSanitizer]
# (default 10000 and 1000). Prints the descriptors and resident memory after the warm-up and
# at the end of each run; fails on a sanitizer report, a failed cycle, or growth.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build=${PELLWICK_BUILD:-$root/build}
asan_cycles=${1:-10000}
tsan_cycles=${2:-1000}

cmake -S . -B "$build/native" -DCMAKE_BUILD_TYPE=Debug -DPELLWICK_SANITIZE=ON -DPELLWICK_BENCHMARKS=ON >/dev/null &&
  cmake --build "$build/native" -j"$(nproc)" --target test_checker_soak >/dev/null || exit 1
cmake -S . -B "$build/tsan" -DCMAKE_BUILD_TYPE=Debug -DPELLWICK_TSAN=ON >/dev/null &&
  cmake --build "$build/tsan" -j"$(nproc)" --target test_checker_soak >/dev/null || exit 1

fixture=$root/tests/support/dovecot/dovecot-fixture.sh
dovecot_dir=$build/soak-dovecot
bash "$fixture" start "$dovecot_dir" >/dev/null || exit 1
trap 'bash "$fixture" stop "$dovecot_dir" >/dev/null' EXIT
export PELLWICK_DOVECOT_DIR=$dovecot_dir

status=0
echo "== $asan_cycles cycles under AddressSanitizer and LeakSanitizer"
# A small quarantine, so that freed memory is reused and growth means a leak.
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:quarantine_size_mb=16 PELLWICK_SOAK_CYCLES=$asan_cycles \
  PELLWICK_SOAK_MEMORY_KIB=8192 "$build/native/tests/mail/test_checker_soak" 2>&1 | grep -E 'soak:|Failure|ERROR|OK|FAILED|Which|Expected' || status=1
[ "${PIPESTATUS[0]}" -eq 0 ] || status=1
echo "== $tsan_cycles cycles under ThreadSanitizer"
TSAN_OPTIONS=halt_on_error=1 PELLWICK_SOAK_CYCLES=$tsan_cycles \
  "$build/tsan/tests/mail/test_checker_soak" 2>&1 | grep -E 'soak:|Failure|WARNING|OK|FAILED|Which|Expected' || status=1
[ "${PIPESTATUS[0]}" -eq 0 ] || status=1
exit $status
