#!/usr/bin/env bash
# Runs a command in a Wine prefix of its own that trusts the test CA, and
# nothing else changed: Wine trusts the system bundle
# /etc/ssl/certs/ca-certificates.crt and copies it into a prefix when it
# first reads it, so the command runs in a private mount namespace where a
# copy of the bundle with the test CA appended lies over that path, and the
# prefix is made there. The machine's own bundle is never touched.
#   with_test_ca.sh ROOT COMMAND [ARG...]
# ROOT holds certs/ (make_test_certs.sh) and wineprefix/; a new CA means a
# new prefix. The command gets KESTRIN_TEST_CERTS and KESTRIN_WINEPREFIX.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$1
shift
mkdir -p "$root"
root=$(cd "$root" && pwd)
bundle=/etc/ssl/certs/ca-certificates.crt
(
  flock 9
  if [ ! -f "$root/certs/complete" ]; then
    rm -rf "$root/wineprefix"
    bash "$here/make_test_certs.sh" "$root/certs"
  fi
  cat "$bundle" "$root/certs/ca.pem" >"$root/bundle.crt"
) 9>"$root/.lock"

if [ "${KESTRIN_IN_TEST_CA_NAMESPACE:-}" != "$root" ]; then
  # A private copy of the mount table: the bind mount below ends with it.
  exec unshare --mount --propagation private env KESTRIN_IN_TEST_CA_NAMESPACE="$root" \
    bash "$0" "$root" "$@"
fi
mount --bind "$root/bundle.crt" "$bundle"
export KESTRIN_TEST_CERTS=$root/certs
export KESTRIN_WINEPREFIX=$root/wineprefix
source "$here/../../scripts/wine-env.sh"
kestrin_wine_prefix
# Wine's services start here, their output away from the caller's pipes.
"$kestrin_wine" cmd /c exit </dev/null >/dev/null 2>&1 || true
exec "$@"
