#!/usr/bin/env bash
# Builds the fuzz targets natively (clang, libFuzzer, ASan, UBSan) in build/fuzz and runs each one
# for the given seconds (default 30 when CI=true, else 5) on a scratch copy of its seed corpus.
# Crashing inputs are kept in build/fuzz/artifacts.
#   tools/fuzz.sh [seconds]
set -uo pipefail
source "$(dirname "$0")/env.sh"
seconds=${1:-$([ "${CI:-}" = true ] && echo 30 || echo 5)}
dir=$VELMORA_BUILD/fuzz
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
if [ ! -f "$dir/CMakeCache.txt" ]; then
    CXX=clang++ cmake -S "$VELMORA_ROOT/tests/fuzz" -B "$dir" "${generator[@]}" >/dev/null || exit 1
fi
cmake --build "$dir" -j 3 || exit 1
mkdir -p "$dir/artifacts"
rc=0
while read -r name corpus; do
    [ -n "$name" ] || continue
    velmora_say "fuzzing $name for $seconds s"
    scratch=$(mktemp -d)
    "$dir/$name" "$scratch" "$corpus" -max_total_time="$seconds" -max_len=9000 -timeout=10 \
        -rss_limit_mb=1024 -print_final_stats=1 -artifact_prefix="$dir/artifacts/$name-" \
        2>"$dir/$name.log" || { rc=1; tail -40 "$dir/$name.log"; }
    grep -E '^(stat::number_of_executed_units|Done)' "$dir/$name.log"
    rm -rf "$scratch"
done <"$dir/fuzz_targets.txt"
exit $rc
