#!/usr/bin/env bash
# The real kestrin.exe under Wine and Xvfb, looked at from outside by
# kestrin_probe.exe in the same prefix: the window, its client size, the
# status text after the work, a screenshot, and the exit code after WM_CLOSE.
# The program is the loopback build, which asks https://localhost:<port>; a
# server there answers over TLS as the catalogue host does today, with a
# certificate from the test CA (the script runs inside with_test_ca.sh), and
# the next port answers plain requests only with a redirect to https. Runs: the entry served counted and chunked (the
# element set is written), a 403 refusal and no server at all (message box,
# the previous file stands), a CSV answer, a body cut inside an element line
# and an entry without the name (the previous file stands, no box), a fresh
# file (no connection at all), and no display (the program ends at once).
# The texts are read back in UTF-16 and must be the Russian ones under any
# locale: CTest runs the script under ru_RU.CP1251 and under C.UTF-8.
# The picture area of the window, read back from the screen, must match the
# reference decoding of the picture (REFERENCE_PPM) within a small tolerance.
#   kestrin_e2e.sh KESTRIN_EXE PROBE_EXE TESTDATA_DIR ARTIFACT_DIR SITE REFERENCE_PPM
set -euo pipefail
exe=$1 probe=$2 testdata=$3 artifacts=$4 site=$5 reference=$6
here=$(cd "$(dirname "$0")" && pwd)
wine_run="$here/../../scripts/wine-run.sh"
source "$here/../../scripts/wine-env.sh" # WINEPREFIX, where Wine keeps the user's folders
[ -n "${DISPLAY:-}" ] || { echo "e2e: no DISPLAY"; exit 1; }
mkdir -p "$artifacts"

# "Файл  *norad_M2.txt* загружен", "... не обновлён" and "... актуален",
# Windows-1251.
written="09D4E0E9EB20202A6E6F7261645F4D322E7478742A20E7E0E3F0F3E6E5ED"
not_updated="09D4E0E9EB20202A6E6F7261645F4D322E7478742A20EDE520EEE1EDEEE2EBB8ED"
current="09D4E0E9EB20202A6E6F7261645F4D322E7478742A20E0EAF2F3E0EBE5ED"
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

# The screen's 330 x 100 picture area (a PPM) against the reference: every
# sample within 8 of it.
picture_matches() {
  python3 - "$1" "$reference" <<'EOF'
import re, sys
def ppm(path):
    data = open(path, "rb").read()
    m = re.match(rb"P6\s+(\d+)\s+(\d+)\s+255\s", data)
    if not m:
        sys.exit(f"{path}: not a binary PPM")
    return int(m.group(1)), int(m.group(2)), data[m.end():]
shot, reference = ppm(sys.argv[1]), ppm(sys.argv[2])
if shot[:2] != reference[:2]:
    sys.exit(f"picture area {shot[:2]}, reference {reference[:2]}")
off = [abs(a - b) for a, b in zip(shot[2], reference[2])]
worst, count = max(off), sum(d > 8 for d in off)
print(f"picture: largest difference {worst}, {count} samples beyond 8")
sys.exit(1 if count else 0)
EOF
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
catalogue_host="$here/../support/catalogue_host.py"
request_line="GET /NORAD/elements/gp.php?CATNR=44387&FORMAT=TLE HTTP/1.1"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The host's answer: the one entry, as published (name padded, CR LF).
entry="$work/entry.txt"
grep -A2 '^METEOR-M2 2 ' "$catalogue" >"$entry"
without_name="$work/without_name.txt"
sed 's/METEOR-M2 2/METEOR-M2 9/' "$entry" >"$without_name"
# An earlier element set of the station (a real one, NOAA 18's lines).
previous="$work/previous.txt"
{ printf 'METEOR-M2 2\r\n'; grep -A2 '^NOAA 18 ' "$catalogue" | tail -n 2; } >"$previous"

# One run of the program in a fresh directory that holds an earlier
# norad_M2.txt, dated 3 hours ago so that it is asked for again, and a stale
# tmp1 (left by a killed run, never to be taken for this run's catalogue).
# Afterwards the directory holds the program and norad_M2.txt, nothing else.
#   run_case NAME MODE(counted|chunked|cut|csv|refuse|none) ENTRY STATUS_HEX
#            BOX(yes|no) RESULT(new|previous) [SITUATION]
# SITUATION: fresh (norad_M2.txt written just now: nothing may be asked),
# held (a reader holds norad_M2.txt open without delete sharing), tmp1_folder
# (a folder named tmp1 stands beside the program).
run_case() {
  local name=$1 mode=$2 served=$3 status=$4 box=$5 result=$6 situation=${7:-}
  local dir side server_pid="" holder_pid="" started
  dir=$(mktemp -d)
  side=$(mktemp -d)
  cp "$exe" "$dir/kestrin.exe"
  local left_behind="kestrin.exe norad_M2.txt"
  if [ "$situation" = fresh ]; then
    cp "$expected_file" "$dir/norad_M2.txt"
  else
    cp "$previous" "$dir/norad_M2.txt"
    touch -d '3 hours ago' "$dir/norad_M2.txt"
    if [ "$situation" = tmp1_folder ]; then
      mkdir "$dir/tmp1"
      left_behind="kestrin.exe norad_M2.txt tmp1"
    else
      cat "$catalogue" >"$dir/tmp1"
    fi
  fi
  cp -p "$dir/norad_M2.txt" "$side/before.txt"
  echo "== $name"
  if [ "$mode" != none ]; then
    python3 "$catalogue_host" "$port" "$mode" "$served" "$side/ready" "$side/requests" \
      --tls "$KESTRIN_TEST_CERTS/localhost.pem" "$KESTRIN_TEST_CERTS/server.key" $((port + 1)) &
    server_pid=$!
    for _ in $(seq 100); do [ -e "$side/ready" ] && break; sleep 0.1; done
    check test -e "$side/ready"
  fi
  if [ "$situation" = held ]; then
    "$wine_run" "$probe" hold "$dir/norad_M2.txt" 60000 </dev/null >"$side/holder" 2>&1 &
    holder_pid=$!
    for _ in $(seq 300); do grep -q holding "$side/holder" && break; sleep 0.1; done
    check grep -q holding "$side/holder"
  fi
  started=$EPOCHREALTIME
  (cd "$dir" && exec "$wine_run" kestrin.exe </dev/null >/dev/null 2>&1) &
  local pid=$!
  local out
  # A catalogue that cannot be had is reported in a message box first.
  if [ "$box" = yes ]; then
    check "$wine_run" "$probe" message "$box_title" "$box_text" </dev/null
  fi
  # Through a file, not a pipe: a wineserver that the probe happens to start
  # would hold a pipe open long after the probe ended.
  if "$wine_run" "$probe" check "$status" </dev/null >"$side/probe.out" 2>&1; then
    out=$(tr -d '\r' <"$side/probe.out")
    echo "$out"
    local ended=$EPOCHREALTIME # its decimal mark follows the locale
    LC_ALL=C awk -v a="${started/,/.}" -v b="${ended/,/.}" \
      'BEGIN { printf "time to the status text: %.2f s\n", b - a }'
    read -r _ left top width height < <(grep '^frame' <<<"$out")
    check acp_fits_locale "$(sed -n 's/^acp //p' <<<"$out")"
    import -window root -crop "${width}x${height}+${left}+${top}" +repage \
      "$artifacts/kestrin_window_$name.png"
    echo "screenshot: $artifacts/kestrin_window_$name.png"
    read -r _ x y < <(grep '^client' <<<"$out")
    import -window root -crop "330x100+${x}+${y}" +repage -depth 8 "ppm:$side/picture.ppm"
    check picture_matches "$side/picture.ppm"
  else
    tr -d '\r' <"$side/probe.out"
    failures=$((failures + 1))
  fi
  check "$wine_run" "$probe" close </dev/null
  wait_exit "$pid"
  echo "exit code: $rc"
  check test "$rc" = 0
  if [ -n "$holder_pid" ]; then
    kill "$holder_pid" 2>/dev/null || true
    wait "$holder_pid" 2>/dev/null || true
  fi
  check test "$(cd "$dir" && ls -A | sort | tr '\n' ' ')" = "$left_behind "
  # The catalogue fetched through the user's temporary directory is gone too.
  check test -z "$(find "$WINEPREFIX/drive_c/users" -name kestrin_tmp1 2>/dev/null)"
  if [ "$result" = new ]; then
    check cmp "$dir/norad_M2.txt" "$expected_file"
  else
    check cmp "$dir/norad_M2.txt" "$side/before.txt"
    check test ! "$dir/norad_M2.txt" -nt "$side/before.txt"
  fi
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
    # One request per run, over TLS (nothing plain), and none while the
    # file is fresh.
    if [ "$situation" = fresh ]; then
      check test ! -s "$side/requests"
    else
      check test "$(cat "$side/requests")" = "$request_line"
    fi
  fi
  rm -rf "$dir" "$side"
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

run_case written counted "$entry" "$written" no new
run_case written_chunked chunked "$entry" "$written" no new
run_case refused refuse "$entry" "$not_updated" yes previous
run_case not_updated none "" "$not_updated" yes previous
run_case csv_answer csv "$entry" "$not_updated" no previous
run_case cut_in_a_line cut "$entry" "$not_updated" no previous
run_case name_missing counted "$without_name" "$not_updated" no previous
run_case current counted "$entry" "$current" no previous fresh
run_case held_by_a_reader counted "$entry" "$not_updated" no previous held
run_case tmp1_is_a_folder counted "$entry" "$written" no new tmp1_folder
no_window_case
[ "$failures" = 0 ] && echo "e2e: all checks passed"
exit "$failures"
