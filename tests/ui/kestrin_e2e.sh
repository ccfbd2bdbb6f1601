#!/usr/bin/env bash
# The real kestrin.exe under Wine and Xvfb, looked at from outside by
# kestrin_probe.exe in the same prefix: the window, its client size, the
# status text after the work, a screenshot, and the exit code after WM_CLOSE.
# The program is the loopback build; a one-shot server on its port plays the
# catalogue server. Runs: the catalogue served (the element set is written),
# no server (message box, the previous file stands), a catalogue without the
# name (the previous file stands), and no display (the program ends at once).
# The texts are read back in UTF-16 and must be the Russian ones under any
# locale: CTest runs the script under ru_RU.CP1251 and under C.UTF-8.
#   kestrin_e2e.sh KESTRIN_EXE PROBE_EXE TESTDATA_DIR ARTIFACT_DIR SITE
set -euo pipefail
exe=$1 probe=$2 testdata=$3 artifacts=$4 site=$5
here=$(cd "$(dirname "$0")" && pwd)
wine_run="$here/../../scripts/wine-run.sh"
[ -n "${DISPLAY:-}" ] || { echo "e2e: no DISPLAY"; exit 1; }
mkdir -p "$artifacts"

# "Файл  *norad_M2.txt* загружен" and "... не обновлён", Windows-1251.
written="09D4E0E9EB20202A6E6F7261645F4D322E7478742A20E7E0E3F0F3E6E5ED"
not_updated="09D4E0E9EB20202A6E6F7261645F4D322E7478742A20EDE520EEE1EDEEE2EBB8ED"
# "Информация" and "Данные с <site> недоступны".
box_title="C8EDF4EEF0ECE0F6E8FF"
box_text="C4E0EDEDFBE520F120$(printf '%s' "$site" | od -An -tx1 | tr -d ' \n' | tr a-f A-F)20EDE5E4EEF1F2F3EFEDFB"
catalogue="$testdata/catalogues/weather-2024-06-17-excerpt.txt"
expected_file="$testdata/catalogues/weather-2024-06-17-excerpt.expected-norad_M2.txt"

failures=0
check() { if ! "$@"; then echo "FAILED: $*"; failures=$((failures + 1)); fi; }

# The ANSI code page Wine took from the locale: 1251 under a Windows-1251
# locale, another one otherwise (so the run shows the texts do not lean on it).
echo "locale: ${LC_ALL:-unset}"
acp_fits_locale() {
  case "${LC_ALL:-}" in
    *.CP1251 | *.cp1251) [ "$1" = 1251 ] ;;
    *) [ -n "$1" ] && [ "$1" != 1251 ] ;;
  esac
}

# Waits, bounded, for a background process; its exit code in $rc.
wait_exit() {
  local pid=$1
  for _ in $(seq 600); do
    kill -0 "$pid" 2>/dev/null || { set +e; wait "$pid"; rc=$?; set -e; return 0; }
    sleep 0.1
  done
  kill "$pid" 2>/dev/null || true
  rc=timeout
}

port=${site##*:}
serve_once="$here/../support/serve_once.py"
previous=$'PREVIOUS ELEMENTS\r\n'

# One run of the program in a fresh directory that holds an earlier
# norad_M2.txt and a stale tmp1 (left by a killed run, never to be taken for
# this run's catalogue).
#   run_case NAME SERVED_CATALOGUE_OR_EMPTY STATUS_HEX BOX(yes|no) RESULT(new|previous)
run_case() {
  local name=$1 served=$2 status=$3 box=$4 result=$5
  local dir server_pid=""
  dir=$(mktemp -d)
  cp "$exe" "$dir/kestrin.exe"
  printf '%s' "$previous" >"$dir/norad_M2.txt"
  cat "$catalogue" >"$dir/tmp1"
  echo "== $name"
  if [ -n "$served" ]; then
    python3 "$serve_once" "$port" "$served" "$dir/ready" &
    server_pid=$!
    for _ in $(seq 100); do [ -e "$dir/ready" ] && break; sleep 0.1; done
    check test -e "$dir/ready"
  fi
  (cd "$dir" && exec "$wine_run" kestrin.exe </dev/null >/dev/null 2>&1) &
  local pid=$!
  local out
  # A catalogue that cannot be had is reported in a message box first.
  if [ "$box" = yes ]; then
    check "$wine_run" "$probe" message "$box_title" "$box_text" </dev/null
  fi
  if out=$("$wine_run" "$probe" check "$status" </dev/null 2>&1 | tr -d '\r'); then
    echo "$out"
    read -r _ left top width height < <(grep '^frame' <<<"$out")
    check acp_fits_locale "$(sed -n 's/^acp //p' <<<"$out")"
    import -window root -crop "${width}x${height}+${left}+${top}" +repage \
      "$artifacts/kestrin_window_$name.png"
    echo "screenshot: $artifacts/kestrin_window_$name.png"
  else
    echo "$out"
    failures=$((failures + 1))
  fi
  check "$wine_run" "$probe" close </dev/null
  wait_exit "$pid"
  echo "exit code: $rc"
  check test "$rc" = 0
  check test ! -e "$dir/tmp1"
  if [ "$result" = new ]; then
    check cmp "$dir/norad_M2.txt" "$expected_file"
  else
    check cmp "$dir/norad_M2.txt" <(printf "%s" "$previous")
  fi
  [ -z "$server_pid" ] || kill "$server_pid" 2>/dev/null || true
  rm -rf "$dir"
}

# Without a display no window can be opened: the program must end at once
# with exit code 0, doing none of the work (tmp1 stays, no output file).
no_window_case() {
  local dir display=:9999
  [ ! -e /tmp/.X11-unix/X9999 ] || { echo "FAILED: display $display exists"; failures=$((failures + 1)); return; }
  dir=$(mktemp -d)
  cp "$exe" "$dir/kestrin.exe"
  cat "$catalogue" >"$dir/tmp1"
  echo "== no_window"
  (cd "$dir" && DISPLAY=$display exec "$wine_run" kestrin.exe </dev/null >/dev/null 2>&1) &
  wait_exit $!
  echo "exit code: $rc"
  check test "$rc" = 0
  check cmp "$dir/tmp1" "$catalogue"
  check test ! -e "$dir/norad_M2.txt"
  rm -rf "$dir"
}

without_name=$(mktemp)
sed 's/METEOR-M2 2/METEOR-M2 9/' "$catalogue" >"$without_name"
run_case written "$catalogue" "$written" no new
run_case not_updated "" "$not_updated" yes previous
run_case name_missing "$without_name" "$not_updated" no previous
rm -f "$without_name"
no_window_case
[ "$failures" = 0 ] && echo "e2e: all checks passed"
exit "$failures"
