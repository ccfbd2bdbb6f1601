#!/usr/bin/env bash
# Which Wine runs Windows programs here: "win32", the product's own; "win64"
# where the kernel cannot start 32-bit programs (some virtual machines) but
# Wine's 64-bit loader runs; or "none".
if /usr/lib/wine/wine --version >/dev/null 2>&1; then
  echo win32
elif /usr/lib/wine/wine64 --version >/dev/null 2>&1; then
  echo win64
else
  echo none
fi
