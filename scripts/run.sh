#!/usr/bin/env bash
# Sets up the machine (first time), builds kestrin.exe and runs it under Wine
# in the current directory, where it writes norad_M2.txt. Without a display
# the program runs on a private Xvfb one: it does its work, and Ctrl+C ends it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh"
bash "$root/scripts/build.sh" windows >/dev/null
if [ -z "${DISPLAY:-}" ]; then
  echo "No display: kestrin.exe runs on a private Xvfb display; end it with Ctrl+C." >&2
  exec xvfb-run -a "$root/scripts/wine-run.sh" "$root/build/windows/app/kestrin.exe"
fi
exec "$root/scripts/wine-run.sh" "$root/build/windows/app/kestrin.exe"
