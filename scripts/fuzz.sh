#!/usr/bin/env bash
# Fuzzes each target for longer than ./test does: scripts/fuzz.sh [seconds per target] [target...]
# (default 600 seconds, every target). The corpus grows in build/fuzz/fuzz/work/<target>;
# a crash is saved as build/fuzz/fuzz/artifacts/<target>-crash-*. Copy each crash input into
# fuzz/regressions/<target>/ once mended: ./test then runs it every time.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build=${PELLWICK_BUILD:-$root/build}
seconds=${1:-600}
shift || true

CC=clang CXX=clang++ cmake -S . -B "$build/fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELLWICK_FUZZ=ON \
  -DPELLWICK_TESTS=OFF >/dev/null || exit 1
cmake --build "$build/fuzz" -j"$(nproc)" >/dev/null || exit 1

targets=("$@")
[ ${#targets[@]} -gt 0 ] || mapfile -t targets < <(cd fuzz && ls -d corpus/*/ | xargs -n1 basename)
out="$build/fuzz/fuzz"
status=0
for target in "${targets[@]}"; do
  echo "== $target: $seconds s"
  mkdir -p "$out/work/$target" "$out/artifacts"
  "$out/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$out/artifacts/$target-" "$out/work/$target" "fuzz/corpus/$target" \
    "fuzz/regressions/$target" 2>"$out/$target.log" || status=1
  grep -E '^(Done|stat::number_of_executed_units|SUMMARY)' "$out/$target.log"
done
ls "$out"/artifacts/ 2>/dev/null | sed 's/^/found: /'
exit $status
