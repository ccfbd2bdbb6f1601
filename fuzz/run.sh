#!/usr/bin/env bash
# Builds a fuzz target with clang and libFuzzer (plus ASan and UBSan) in
# build/fuzz and runs it for the given number of seconds (60 by default) from
# its seed corpus; prints libFuzzer's summary.
#   bash fuzz/run.sh [download|jpeg] [seconds]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
target=${1:-download}
seconds=${2:-60}
build="$root/build/fuzz"
if [ ! -f "$build/CMakeCache.txt" ]; then
  CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Debug \
    -DKESTRIN_FUZZ=ON -DKESTRIN_SANITIZE=ON \
    -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link >/dev/null
fi
case "$target" in
  download) program=download_fuzz seeds=("$root"/fuzz/corpus/*) ;;
  jpeg) program=jpeg_decoder_fuzz seeds=("$root"/resources/picture.jpg) ;;
  *) echo "usage: fuzz/run.sh [download|jpeg] [seconds]" >&2; exit 2 ;;
esac
cmake --build "$build" --target "$program" -j2 >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "${seeds[@]}" "$work"/
cd "$work"
"$build/fuzz/$program" -max_total_time="$seconds" -timeout=30 -max_len=4096 \
  -print_final_stats=1 "$work" 2>&1 | tail -n 25
