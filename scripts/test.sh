#!/usr/bin/env bash
# Sets up the machine (first time), builds both trees and runs every test:
# the host tests under AddressSanitizer and UndefinedBehaviorSanitizer, the
# Windows tests under Wine (one persistent wineserver, an Xvfb display).
set -euo pipefail
cd "$(dirname "$0")/.."
start=$(date +%s)

bash scripts/setup.sh
bash scripts/build.sh host windows

source scripts/wine-env.sh
kestrin_wine_prefix

pids=()
cleanup() {
  wineserver -k 2>/dev/null || true
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
}
trap cleanup EXIT

# Windows programs with windows need a display; start a private one.
if [ -z "${DISPLAY:-}" ] || [ -n "${CI:-}" ]; then
  kestrin_private_display || true
  pids+=("${kestrin_xvfb_pid:-}")
fi
# One persistent wineserver, and Wine's services started here with their
# output away from CTest's pipes (CTest would otherwise wait for them).
wineserver -p 2>/dev/null || true
wine cmd /c exit </dev/null >/dev/null 2>&1 || true

status=0
passed=0
failed=0
for tree in host windows; do
  echo "== $tree tests"
  log=$(mktemp)
  ctest --preset "$tree" -j2 2>&1 | tee "$log" || status=1
  p=$(grep -Eo '[0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1 || true)
  if [ -n "$p" ]; then
    f=$(echo "$p" | awk '{print $1}')
    t=$(echo "$p" | awk '{print $NF}')
    passed=$((passed + t - f))
    failed=$((failed + f))
  else
    status=1
  fi
  rm -f "$log"
done
echo "Test wall time: $(( $(date +%s) - start )) s"
echo "$passed passed, $failed failed"
exit $status
