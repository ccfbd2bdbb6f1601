#!/usr/bin/env bash
# Sets up the machine (first time), builds the trees and runs every test:
# the host tests under AddressSanitizer and UndefinedBehaviorSanitizer, the
# Windows tests under Wine (one persistent wineserver, an Xvfb display).
set -euo pipefail
cd "$(dirname "$0")/.."
start=$(date +%s)

bash scripts/setup.sh

# Wine's loader is a 32-bit Linux program. A machine whose kernel cannot
# start 32-bit programs (some virtual machines) cannot run the 32-bit Windows
# tests: there the same sources are built as 64-bit Windows programs and
# those run under Wine's 64-bit loader, in a 64-bit prefix, while the 32-bit
# tree runs only its tests that need no Wine. Where neither loader starts,
# the Windows tests are named and counted as skipped, never as passed.
windows_only=()
wine_tree=windows
skipped=0
kind=$(bash scripts/wine-kind.sh)
if [ "$kind" = win32 ]; then
  bash scripts/build.sh host windows
elif [ "$kind" = win64 ]; then
  bash scripts/build.sh host windows windows64
  export KESTRIN_WINEARCH=win64
  windows_only=(-R '^release_')
  wine_tree=windows64
  echo "!! This machine cannot start 32-bit programs: the Windows tests run as"
  echo "!! 64-bit builds of the same sources under 64-bit Wine (build/windows64)."
else
  bash scripts/build.sh host windows
  windows_only=(-R '^release_')
  wine_tree=""
  skipped=$(ctest --preset windows -N -E '^release_' | grep -c '^ *Test *#' || true)
  echo "!! This machine cannot start 32-bit programs, so Wine cannot run here."
  echo "!! Skipped, not run: $skipped Windows tests:"
  ctest --preset windows -N -E '^release_' | sed -n 's/^ *Test *#[0-9]*: /!!   /p'
fi
source scripts/wine-env.sh

pids=()
cleanup() {
  [ -z "$wine_tree" ] || wineserver -k 2>/dev/null || true
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
}
trap cleanup EXIT

if [ -n "$wine_tree" ]; then
  kestrin_wine_prefix
  # Windows programs with windows need a display; start a private one.
  if [ -z "${DISPLAY:-}" ] || [ -n "${CI:-}" ]; then
    kestrin_private_display || true
    pids+=("${kestrin_xvfb_pid:-}")
  fi
  # One persistent wineserver, and Wine's services started here with their
  # output away from CTest's pipes (CTest would otherwise wait for them).
  wineserver -p 2>/dev/null || true
  "$kestrin_wine" cmd /c exit </dev/null >/dev/null 2>&1 || true
fi

status=0
passed=0
failed=0
trees=(host windows)
[ "$wine_tree" = windows64 ] && trees+=(windows64)
for tree in "${trees[@]}"; do
  echo "== $tree tests"
  log=$(mktemp)
  filter=()
  [ "$tree" = windows ] && filter=("${windows_only[@]}")
  [ "$tree" = windows64 ] && filter=(-E '^release_')
  ctest --preset "$tree" -j2 "${filter[@]}" 2>&1 | tee "$log" || status=1
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
if [ "$skipped" -gt 0 ]; then
  echo "$passed passed, $failed failed, $skipped skipped"
else
  echo "$passed passed, $failed failed"
fi
exit $status
