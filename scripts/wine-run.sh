#!/usr/bin/env bash
# Runs a Windows program under Wine in Kestrin's own prefix. CTest uses it as
# the cross-compiling emulator; scripts/run.sh runs the program with it.
# "--win64" first: a 64-bit test program, in the 64-bit prefix.
set -euo pipefail
[ "${1:-}" = --win64 ] && { export KESTRIN_WINEARCH=win64; shift; }
source "$(dirname "$0")/wine-env.sh"
kestrin_wine_prefix
exec "$kestrin_wine" "$@"
