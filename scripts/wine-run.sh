#!/usr/bin/env bash
# Runs a Windows program under Wine in Kestrin's own prefix. CTest uses it as
# the cross-compiling emulator; scripts/run.sh runs the program with it.
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"
kestrin_wine_prefix
exec wine "$@"
