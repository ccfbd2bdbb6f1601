#!/usr/bin/env bash
# Configures and builds the given trees ("host", "windows"; both by default).
set -euo pipefail
cd "$(dirname "$0")/.."
trees=("$@")
[ ${#trees[@]} -gt 0 ] || trees=(host windows)
for t in "${trees[@]}"; do
  [ -f "build/$t/CMakeCache.txt" ] || cmake --preset "$t" >/dev/null
  cmake --build --preset "$t" -j"$(nproc)"
done
