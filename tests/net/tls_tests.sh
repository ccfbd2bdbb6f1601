#!/usr/bin/env bash
# Runs the TLS test program under Wine against tls_host.py's servers, inside
# with_test_ca.sh (which sets KESTRIN_TEST_CERTS and the prefix).
#   tls_tests.sh TEST_EXE ENTRY_FILE
set -euo pipefail
exe=$1 entry=$2
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
python3 "$here/../support/tls_host.py" "$KESTRIN_TEST_CERTS" "$entry" "$work/servers" \
  >"$work/log" 2>&1 &
server=$!
trap 'kill $server 2>/dev/null || true; wait $server 2>/dev/null || true; rm -rf "$work"' EXIT
for _ in $(seq 100); do [ -e "$work/servers" ] && break; sleep 0.1; done
[ -e "$work/servers" ] || { cat "$work/log"; exit 1; }
status=0
KESTRIN_TLS_SERVERS=$work/servers KESTRIN_TLS_ENTRY=$entry \
  "$here/../../scripts/wine-run.sh" "$exe" </dev/null || status=$?
echo "-- what the servers saw:"
cat "$work/log"
exit $status
