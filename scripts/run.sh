#!/usr/bin/env bash
# Sets up the machine (first time), builds kestrin.exe and runs it under Wine
# in the current directory, where it writes norad_M2.txt. Without a display
# the program runs on a private Xvfb one: it does its work, and Ctrl+C ends it.
# A machine that cannot start 32-bit programs runs the 64-bit build of the
# same sources instead, and says so.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh"
tree=windows
run=("$root/scripts/wine-run.sh")
if [ "$(bash "$root/scripts/wine-kind.sh")" = win64 ]; then
  echo "This machine cannot start 32-bit programs: running the 64-bit build of kestrin.exe." >&2
  tree=windows64
  run+=(--win64)
fi
bash "$root/scripts/build.sh" "$tree" >/dev/null
if [ -z "${DISPLAY:-}" ]; then
  echo "No display: kestrin.exe runs on a private Xvfb display; end it with Ctrl+C." >&2
  exec xvfb-run -a "${run[@]}" "$root/build/$tree/app/kestrin.exe"
fi
exec "${run[@]}" "$root/build/$tree/app/kestrin.exe"
