#!/usr/bin/env bash
# Minimises the campaign corpus of each named target (build/fuzz/campaign/
# TARGET, together with the committed one) into fuzz/corpus/TARGET: the
# fewest inputs, with libFuzzer's -merge=1, that keep its coverage.
#   bash fuzz/minimise.sh TARGET...
set -euo pipefail
source "$(dirname "$0")/build.sh"
[ $# -ge 1 ] || { echo "usage: fuzz/minimise.sh TARGET..." >&2; exit 2; }
fuzz_build_targets "$@"
for t in "$@"; do
  merged=$(mktemp -d)
  fuzz_seed "$t" "$fuzz_build/campaign/$t"
  # shellcheck disable=SC2046
  "$fuzz_build/fuzz/${t}_fuzz" -merge=1 $(fuzz_options "$t") "$merged" \
    "$fuzz_build/campaign/$t" >"$fuzz_build/campaign/$t.merge.log" 2>&1
  rm -rf "$fuzz_root/fuzz/corpus/$t"
  mkdir -p "$fuzz_root/fuzz/corpus/$t"
  cp "$merged"/* "$fuzz_root/fuzz/corpus/$t"/
  rm -rf "$merged"
  echo "$t: $(ls "$fuzz_root/fuzz/corpus/$t" | wc -l) inputs, $(cat "$fuzz_root/fuzz/corpus/$t"/* | wc -c) bytes"
done
