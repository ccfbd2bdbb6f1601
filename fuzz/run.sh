#!/usr/bin/env bash
# Builds the download fuzz target with clang and libFuzzer (plus ASan and
# UBSan) in build/fuzz and runs it for the given number of seconds (60 by
# default) from the seed corpus; prints libFuzzer's summary.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
build="$root/build/fuzz"
if [ ! -f "$build/CMakeCache.txt" ]; then
  CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Debug \
    -DKESTRIN_LIBFUZZER=ON -DKESTRIN_SANITIZE=ON \
    -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link >/dev/null
fi
cmake --build "$build" --target download_fuzz -j2 >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$root"/fuzz/corpus/* "$work"/
cd "$work"
"$build/fuzz/download_fuzz" -max_total_time="$seconds" -timeout=30 -max_len=4096 \
  -print_final_stats=1 "$work" 2>&1 | tail -n 25
