#!/usr/bin/env bash
# Makes docs/kestrin.png again: the end-to-end test's screenshot of the
# running program after it wrote the element set, taken under LC_ALL=C.UTF-8
# (a locale whose code page is not Windows-1251) on a private Xvfb display.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh windows >/dev/null

source scripts/wine-env.sh
kestrin_wine_prefix
cleanup() {
  wineserver -k 2>/dev/null || true
  [ -z "${kestrin_xvfb_pid:-}" ] || kill "$kestrin_xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT
kestrin_private_display
# As in scripts/test.sh: Wine's services start here, away from CTest's pipes.
wineserver -p 2>/dev/null || true
wine cmd /c exit </dev/null >/dev/null 2>&1 || true

shot=build/windows/tests/ui/artifacts/C.UTF-8/kestrin_window_written.png
rm -f "$shot"
ctest --preset windows -R '^kestrin_e2e_utf8$'
mkdir -p docs
cp "$shot" docs/kestrin.png
echo "docs/kestrin.png: $(identify -format '%w x %h' docs/kestrin.png)"
