#!/usr/bin/env bash
# Times download_file (through bench/download_bench) against curl on the
# same pacing loopback server: 1460-byte segments, 16 per burst, 3 ms
# between bursts, 50 ms before the first byte. Serves the catalogue excerpt
# and a 25 MiB body paced so, then the 25 MiB body with no pacing at all;
# prints the median wall times and the ratio ours/curl.
# Usage: bench/run.sh [runs]   (7 by default)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-7}
build="$root/build/bench"
command -v curl >/dev/null || apt-get install -y -qq curl >/dev/null
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DKESTRIN_SANITIZE=OFF >/dev/null
fi
cmake --build "$build" --target download_bench pacing_server -j2 >/dev/null

work=$(mktemp -d)
server_pid=""
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

testdata=${KESTRIN_TESTDATA:-$root/../shared/testdata}
cp "$testdata/catalogues/weather-2024-06-17-excerpt.txt" "$work/catalogue"
head -c $((25 * 1024 * 1024)) /dev/urandom >"$work/body25m"

now() { date +%s.%N; }
median() { sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }

# row, file served, pacing (segment burst gap_ms first_delay_ms; segment 0: all at once)
rows=("catalogue catalogue 1460 16 3 50"
      "body25m body25m 1460 16 3 50"
      "unpaced body25m 0 1 0 0")
for row in "${rows[@]}"; do
  read -r label name pacing <<<"$row"
  mkfifo "$work/in" "$work/out"
  # shellcheck disable=SC2086
  "$build/bench/pacing_server" "$work/$name" $pacing <"$work/in" >"$work/out" &
  server_pid=$!
  exec 3>"$work/in"
  read -r port <"$work/out"
  url="http://127.0.0.1:$port/$name"
  : >"$work/ours.times"
  : >"$work/curl.times"
  for i in $(seq "$runs"); do
    t0=$(now); "$build/bench/download_bench" "$url" "$work/ours.out" >/dev/null; t1=$(now)
    awk "BEGIN { print $t1 - $t0 }" >>"$work/ours.times"
    t0=$(now); curl -s -o "$work/curl.out" "$url"; t1=$(now)
    awk "BEGIN { print $t1 - $t0 }" >>"$work/curl.times"
  done
  cmp -s "$work/ours.out" "$work/$name" || { echo "$label: download_file's copy differs"; exit 1; }
  cmp -s "$work/curl.out" "$work/$name" || { echo "$label: curl's copy differs"; exit 1; }
  ours=$(median <"$work/ours.times")
  theirs=$(median <"$work/curl.times")
  printf '%-9s %9d bytes  download_file %.3f s  curl %.3f s  ratio %.3f  (median of %d)\n' \
    "$label" "$(stat -c %s "$work/$name")" "$ours" "$theirs" "$(awk "BEGIN { print $ours / $theirs }")" "$runs"
  exec 3>&-
  wait "$server_pid" 2>/dev/null || true
  server_pid=""
  rm -f "$work/in" "$work/out"
done
