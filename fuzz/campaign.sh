#!/usr/bin/env bash
# Runs every fuzz target (or the ones named) for SECONDS each, one after the
# other in one process each (no forks), and prints one line per target:
#   TARGET execs N rate R/s findings F
# Each target's corpus grows in build/fuzz/campaign/TARGET, seeded from the
# committed one; findings (crashes, leaks, time-outs, memory blow-ups) are
# kept in build/fuzz/findings/TARGET. A finding, once mended, belongs in
# fuzz/regressions/TARGET, which the tests replay.
#   bash fuzz/campaign.sh SECONDS [TARGET...]
set -euo pipefail
source "$(dirname "$0")/build.sh"
[ $# -ge 1 ] && [[ $1 =~ ^[0-9]+$ ]] || {
  echo "usage: fuzz/campaign.sh SECONDS [${fuzz_targets[*]}]" >&2
  exit 2
}
seconds=$1
shift
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${fuzz_targets[@]}")
fuzz_build_targets "${targets[@]}"

for t in "${targets[@]}"; do
  corpus="$fuzz_build/campaign/$t"
  findings="$fuzz_build/findings/$t"
  fuzz_seed "$t" "$corpus"
  mkdir -p "$findings"
  before=$(find "$findings" -type f | wc -l)
  log="$fuzz_build/campaign/$t.log"
  start=$(date +%s.%N)
  # A finding ends the run; the line still reports it.
  # shellcheck disable=SC2046
  (cd "$findings" && "$fuzz_build/fuzz/${t}_fuzz" -max_total_time="$seconds" \
    $(fuzz_options "$t") -print_final_stats=1 -artifact_prefix="$findings/" \
    "$corpus" >"$log" 2>&1) || true
  elapsed=$(awk "BEGIN { print $(date +%s.%N) - $start }")
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  # Without the final statistics (a crash), the last progress line counts.
  [ -n "$execs" ] || execs=$(grep -Eo '^#[0-9]+' "$log" | tail -n 1 | tr -d '#')
  execs=${execs:-0}
  rate=$(awk "BEGIN { printf \"%d\", $execs / ($elapsed > 0 ? $elapsed : 1) }")
  found=$(($(find "$findings" -type f | wc -l) - before))
  echo "$t execs $execs rate $rate/s findings $found"
done
