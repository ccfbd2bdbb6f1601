#!/usr/bin/env bash
# Sets up the machine (first time), builds kestrin.exe and runs it under Wine
# in the current directory, where it writes norad_M2.txt.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh"
bash "$root/scripts/build.sh" windows >/dev/null
exec "$root/scripts/wine-run.sh" "$root/build/windows/app/kestrin.exe"
