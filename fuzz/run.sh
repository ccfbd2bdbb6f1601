#!/usr/bin/env bash
# Builds one fuzz target with clang and libFuzzer (plus ASan and UBSan) in
# build/fuzz and runs it for the given number of seconds (60 by default) from
# its committed corpus; prints libFuzzer's summary.
#   bash fuzz/run.sh [response|url|extract|jpeg_decoder|download] [seconds]
set -euo pipefail
source "$(dirname "$0")/build.sh"
target=${1:-response}
seconds=${2:-60}
case " ${fuzz_targets[*]} " in
  *" $target "*) ;;
  *) echo "usage: fuzz/run.sh [${fuzz_targets[*]// /|}] [seconds]" >&2; exit 2 ;;
esac
fuzz_build_targets "$target"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fuzz_seed "$target" "$work"
cd "$work"
# shellcheck disable=SC2046
"$fuzz_build/fuzz/${target}_fuzz" -max_total_time="$seconds" $(fuzz_options "$target") \
  -print_final_stats=1 "$work" 2>&1 | tail -n 25
