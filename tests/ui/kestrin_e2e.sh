#!/usr/bin/env bash
# The real kestrin.exe under Wine and Xvfb, looked at from outside by
# kestrin_probe.exe in the same prefix: the window, its client size, the
# status text after the work, a screenshot, and the exit code after WM_CLOSE.
# The program is the loopback build, which asks https://localhost:<port>; a
# server there answers over TLS as the catalogue host does today, with a
# certificate from the test CA (the script runs inside with_test_ca.sh), and
# the next port answers plain requests only with a redirect to https. Runs: the entry served counted and chunked (the
# element set is written), a 403 refusal, no server at all and an expired
# certificate (message box with the reason, the previous file stands), a CSV
# answer, a body cut inside an element line and an entry without the name
# (the previous file stands, no box), a fresh file (no connection at all),
# two starts at once (one asks, the other waits and finds the file fresh), a
# trickling download closed by the user (the window answers throughout and
# the program ends within 1 s), the window moved while the host answers (the
# outcome shows in the system's move loop), a name server that never
# answers (the window answers, a close ends the program at once), and no
# display (the program ends at once). Every start leaves its line in
# kestrin.log.
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
# The prefix's server and services run for the whole script, started here
# with none of its pipes: started by a program whose output the script
# reads, they would hold that pipe open and its reader would wait for ever.
kestrin_wine_prefix
wineserver -w # one started before lingers a few seconds: let it go first
wineserver -p </dev/null >/dev/null 2>&1
wine cmd /c exit </dev/null >/dev/null 2>&1 || true

# "Файл  *norad_M2.txt* загружен", "... не обновлён" and "... актуален",
# Windows-1251.
written="09D4E0E9EB20202A6E6F7261645F4D322E7478742A20E7E0E3F0F3E6E5ED"
not_updated="09D4E0E9EB20202A6E6F7261645F4D322E7478742A20EDE520EEE1EDEEE2EBB8ED"
current="09D4E0E9EB20202A6E6F7261645F4D322E7478742A20E0EAF2F3E0EBE5ED"
# "Информация" and "Данные с <site> недоступны".
box_title="C8EDF4EEF0ECE0F6E8FF"
box_text="C4E0EDEDFBE520F120$(printf '%s' "$site" | od -An -tx1 | tr -d ' \n' | tr a-f A-F)20EDE5E4EEF1F2F3EFEDFB"
# Texts given here in UTF-8, as Windows-1251 hex.
cp1251_hex() { printf '%s' "$1" | iconv -f UTF-8 -t CP1251 | od -An -tx1 | tr -d ' \n' | tr a-f A-F; }
# The box: its first line, an empty line, then the reason.
box_with() { printf '%s0A0A%s' "$box_text" "$(cp1251_hex "$1")"; }
box_refused=$(box_with "Ответ сервера: 403 Forbidden
GP data has not updated since your last successful download of CATNR=44387 at 2026-12-08 18:00:00 UTC.")
box_no_connection=$(box_with "Сервер $site не принимает соединение")
box_expired=$(box_with "Сертификат сервера недействителен по дате: проверьте дату и время компьютера")
# The start of every log line: the local time with its offset from UTC.
stamp='[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} [+-][0-9]{2}:[0-9]{2}'
logged_written='written: status 200, [0-9]+ body bytes, TLS 1\.[23], [0-9]+\.[0-9]{2} s'
not_a_set='not-updated: the lines after METEOR-M2 2 are no element set: a short or misshapen line'
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

# Waits, bounded (60 s or the given tenths of a second), for a background
# process; its exit code in $rc.
wait_exit() {
  local pid=$1
  for _ in $(seq "${2:-600}"); do
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
trap 'rm -rf "$work"; wineserver -k 2>/dev/null || true' EXIT
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
# Afterwards the directory holds the program, norad_M2.txt and kestrin.log,
# whose one line says LOG (an extended pattern after the time stamp).
#   run_case NAME MODE(counted|chunked|cut|csv|refuse|none) ENTRY STATUS_HEX
#            BOX(no|its text in hex) RESULT(new|previous) LOG [SITUATION]
# SITUATION: fresh (norad_M2.txt written just now: nothing may be asked),
# held (a reader holds norad_M2.txt open without delete sharing), tmp1_folder
# (a folder named tmp1 stands beside the program), expired (the server's
# certificate ended in 2021).
run_case() {
  local name=$1 mode=$2 served=$3 status=$4 box=$5 result=$6 logged=$7 situation=${8:-}
  local dir side server_pid="" holder_pid="" started certificate=localhost
  [ "$situation" = expired ] && certificate=expired
  dir=$(mktemp -d)
  side=$(mktemp -d)
  cp "$exe" "$dir/kestrin.exe"
  local left_behind="kestrin.exe kestrin.log norad_M2.txt"
  if [ "$situation" = fresh ]; then
    cp "$expected_file" "$dir/norad_M2.txt"
  else
    cp "$previous" "$dir/norad_M2.txt"
    touch -d '3 hours ago' "$dir/norad_M2.txt"
    if [ "$situation" = tmp1_folder ]; then
      mkdir "$dir/tmp1"
      left_behind="kestrin.exe kestrin.log norad_M2.txt tmp1"
    else
      cat "$catalogue" >"$dir/tmp1"
    fi
  fi
  cp -p "$dir/norad_M2.txt" "$side/before.txt"
  echo "== $name"
  if [ "$mode" != none ]; then
    python3 "$catalogue_host" "$port" "$mode" "$served" "$side/ready" "$side/requests" \
      --tls "$KESTRIN_TEST_CERTS/$certificate.pem" "$KESTRIN_TEST_CERTS/server.key" $((port + 1)) &
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
  if [ "$box" != no ]; then
    check "$wine_run" "$probe" message "$box_title" "$box" </dev/null
  fi
  # Through a file, not a pipe: a wineserver that the probe happens to start
  # would hold a pipe open long after the probe ended.
  if "$wine_run" "$probe" check "$status" </dev/null >"$side/probe.out" 2>&1; then
    out=$(tr -d '\r' <"$side/probe.out")
    echo "$out"
    check took_less_than "$started" 60 "time to the status text"
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
  check_log "$dir/kestrin.log" 1 "$logged"
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
    # file is fresh or the certificate is refused.
    if [ "$situation" = fresh ]; then
      check test ! -s "$side/requests"
    elif [ "$situation" != expired ]; then
      check test "$(cat "$side/requests")" = "$request_line"
    fi
  fi
  rm -rf "$dir" "$side"
}

# The log holds LINES lines, ASCII with CR LF ends, the last of them the
# stamp and PATTERN.
check_log() {
  local log=$1 lines=$2 pattern=$3
  echo "log: $(tail -n 1 "$log" 2>/dev/null | tr -d '\r')"
  check test "$(wc -l <"$log")" = "$lines"
  check test "$(grep -c $'\r$' "$log")" = "$lines"
  check test -z "$(LC_ALL=C tr -d '\r\n -~' <"$log")"
  check grep -Eq "^$stamp $pattern"$'\r$' <(tail -n 1 "$log")
}

# Starts the program in DIR in the background, with the ARGS given; its
# process id in $pid.
#   start_in DIR [ARG...]
start_in() {
  local d=$1
  shift
  (cd "$d" && exec "$wine_run" kestrin.exe "$@" </dev/null >/dev/null 2>&1) &
  pid=$!
}

# Sets up a case of its own: the program beside a previous file 3 hours old
# (dir), a side folder (side) and the loopback host answering in MODE
# (server_pid), ready, serving SERVED (the entry by default). The caller
# declares dir, side and server_pid local.
#   stale_station_case NAME MODE [SERVED]
stale_station_case() {
  dir=$(mktemp -d)
  side=$(mktemp -d)
  echo "== $1"
  cp "$exe" "$dir/kestrin.exe"
  cp "$previous" "$dir/norad_M2.txt"
  touch -d '3 hours ago' "$dir/norad_M2.txt"
  cp -p "$dir/norad_M2.txt" "$side/before.txt"
  python3 "$catalogue_host" "$port" "$2" "${3:-$entry}" "$side/ready" "$side/requests" \
    --tls "$KESTRIN_TEST_CERTS/localhost.pem" "$KESTRIN_TEST_CERTS/server.key" $((port + 1)) &
  server_pid=$!
  for _ in $(seq 100); do [ -e "$side/ready" ] && break; sleep 0.1; done
}

# Ends the case's host; its requests in $asked.
end_host() {
  kill "$server_pid" 2>/dev/null || true
  wait "$server_pid" 2>/dev/null || true
  asked=$(cat "$side/requests" 2>/dev/null || true)
}

# Another satellite by its number, or from the operator's source (a group
# file of several sets): the asked set is written, from the asked path only,
# even over a fresh file of METEOR-M2 2; the log names what was asked.
#   chosen_case NAME SERVED EXPECTED_FILE REQUEST_LINE LOG ARG...
chosen_case() {
  local dir side server_pid asked name=$1 served=$2 wanted=$3 line=$4 logged=$5
  shift 5
  stale_station_case "$name" counted "$served"
  cp "$expected_file" "$dir/norad_M2.txt" # METEOR-M2 2, fresh
  start_in "$dir" "$@"
  check "$wine_run" "$probe" check "$written" </dev/null >/dev/null
  check "$wine_run" "$probe" close </dev/null
  wait_exit "$pid"
  check test "$rc" = 0
  end_host
  check test "$asked" = "$line"
  check cmp "$dir/norad_M2.txt" "$wanted"
  check_log "$dir/kestrin.log" 1 "$logged"
  rm -rf "$dir" "$side"
}

# Unattended (/close): no box, the window closes itself, and the exit code
# tells the outcome.
#   unattended_case NAME MODE EXIT_CODE RESULT(new|previous)
unattended_case() {
  local dir side server_pid asked
  stale_station_case "$1" "$2"
  start_in "$dir" /close
  wait_exit "$pid"
  echo "exit code: $rc"
  check test "$rc" = "$3"
  end_host
  check test "$asked" = "$request_line"
  if [ "$4" = new ]; then
    check cmp "$dir/norad_M2.txt" "$expected_file"
  else
    check cmp "$dir/norad_M2.txt" "$side/before.txt"
  fi
  check test "$(wc -l <"$dir/kestrin.log")" = 1
  rm -rf "$dir" "$side"
}

# What a person asked for with /?, and a command line not understood: a
# box titled "Kestrin" alone (no window), nothing asked; the usage leaves no
# log line, the refusal one, its exit code 87 and the file byte for byte.
#   command_line_case NAME EXIT_CODE SHOWN_PATTERN ARG...
command_line_case() {
  local dir side server_pid asked name=$1 code=$2 shown=$3
  shift 3
  stale_station_case "$name" counted
  start_in "$dir" "$@"
  check "$wine_run" "$probe" lonebox "$(cp1251_hex Kestrin)" </dev/null >"$side/box"
  tr -d '\r' <"$side/box"
  check grep -qF "$shown" "$side/box"
  check grep -qF "kestrin.exe [НОМЕР] [/source:URL] [/close] [/?]" "$side/box"
  wait_exit "$pid"
  echo "exit code: $rc"
  check test "$rc" = "$code"
  end_host
  check test -z "$asked"
  check cmp "$dir/norad_M2.txt" "$side/before.txt"
  if [ "$code" = 0 ]; then
    check test ! -e "$dir/kestrin.log"
  else
    check_log "$dir/kestrin.log" 1 "not-updated: the command line was not understood: ${*: -1}"
  fi
  rm -rf "$dir" "$side"
}

# A host that answers after 3 s; two starts 0.2 s apart. One asks and
# writes; the other waits for it and finds the file fresh: one request.
two_starts_case() {
  local dir side server_pid first second
  stale_station_case two_starts slow
  start_in "$dir"
  first=$pid
  sleep 0.2 # the second start, as a double double-click makes it
  start_in "$dir"
  second=$pid
  check "$wine_run" "$probe" pair "$written" "$current" </dev/null
  check "$wine_run" "$probe" close </dev/null
  wait_exit "$first"
  echo "exit codes: $rc"
  check test "$rc" = 0
  wait_exit "$second"
  echo "  and $rc"
  check test "$rc" = 0
  kill "$server_pid" 2>/dev/null || true
  wait "$server_pid" 2>/dev/null || true
  check test "$(cat "$side/requests")" = "$request_line"
  check cmp "$dir/norad_M2.txt" "$expected_file"
  check test "$(cd "$dir" && ls -A | sort | tr '\n' ' ')" = "kestrin.exe kestrin.log norad_M2.txt "
  check test -z "$(find "$WINEPREFIX/drive_c/users" -name kestrin_tmp1 2>/dev/null)"
  check grep -Eq "^$stamp $logged_written"$'\r$' "$dir/kestrin.log"
  check_log "$dir/kestrin.log" 2 'current: norad_M2.txt is 0 min old, nothing asked'
  rm -rf "$dir" "$side"
}

# Prints the seconds since START (an EPOCHREALTIME, whose decimal mark
# follows the locale) and checks they stay below LIMIT.
took_less_than() {
  local start=$1 limit=$2 what=$3 now=$EPOCHREALTIME
  LC_ALL=C awk -v a="${start/,/.}" -v b="${now/,/.}" -v l="$limit" -v w="$what" \
    'BEGIN { printf "%s: %.2f s\n", w, b - a; exit !(b - a < l) }'
}

# The user closes the window while the work runs ($pid in $dir, $side
# holding before.txt): the program ends within 1 s with exit code 0, the
# previous file intact, no tmp1, no box, and the log says "cancelled".
closed_while_working() {
  local closed=$EPOCHREALTIME
  check "$wine_run" "$probe" close </dev/null
  wait_exit "$pid" 30
  check took_less_than "$closed" 1 "from the close to the end"
  echo "exit code: $rc"
  check test "$rc" = 0
  check cmp "$dir/norad_M2.txt" "$side/before.txt"
  check test "$(cd "$dir" && ls -A | sort | tr '\n' ' ')" = "kestrin.exe kestrin.log norad_M2.txt "
  check_log "$dir/kestrin.log" 1 'cancelled: the window was closed while the work ran'
}

# A host that trickles the body a byte a second: for 6 s the window answers
# within 1 s and is never taken for hung; then the user closes it.
trickle_case() {
  local dir side server_pid
  stale_station_case trickle_then_close trickle
  start_in "$dir"
  for _ in $(seq 300); do [ -s "$side/requests" ] && break; sleep 0.1; done
  check test "$(cat "$side/requests")" = "$request_line"
  check "$wine_run" "$probe" watch 6000 </dev/null
  closed_while_working
  kill "$server_pid" 2>/dev/null || true
  wait "$server_pid" 2>/dev/null || true
  rm -rf "$dir" "$side"
}

# A host that answers after 3 s while the user moves the window (the
# system's move loop, entered from the keyboard, stays up): the set is on
# disk and the status bar says so while the loop is still up.
move_case() {
  local dir side server_pid
  stale_station_case moved_while_working slow
  start_in "$dir"
  check "$wine_run" "$probe" move "$written" </dev/null
  check cmp "$dir/norad_M2.txt" "$expected_file"
  check "$wine_run" "$probe" close </dev/null
  wait_exit "$pid"
  check test "$rc" = 0
  kill "$server_pid" 2>/dev/null || true
  wait "$server_pid" 2>/dev/null || true
  check test "$(cat "$side/requests")" = "$request_line"
  check_log "$dir/kestrin.log" 1 "$logged_written"
  rm -rf "$dir" "$side"
}

# A name server that takes the question and never answers (the host's name
# is in no hosts file): the window answers throughout, and a close ends the
# program at once although the lookup still waits. It needs a mount
# namespace of its own (for resolv.conf and the hosts file) and port 53 on
# loopback; without them the case is skipped, with its reason.
silent_name_server_case() {
  local dir side listener
  echo "== silent_name_server"
  if ! unshare --mount true 2>/dev/null; then
    echo "skipped: silent_name_server: no mount namespace can be made here"
    return
  fi
  dir=$(mktemp -d)
  side=$(mktemp -d)
  cp "$exe" "$dir/kestrin.exe"
  cp "$previous" "$dir/norad_M2.txt"
  touch -d '3 hours ago' "$dir/norad_M2.txt"
  cp -p "$dir/norad_M2.txt" "$side/before.txt"
  printf 'nameserver 127.0.0.1\noptions timeout:5 attempts:2\n' >"$side/resolv.conf"
  grep -v localhost /etc/hosts >"$side/hosts" || true
  python3 "$here/silent_name_server.py" "$side/ready" "$side/asked" &
  listener=$!
  for _ in $(seq 100); do [ -s "$side/ready" ] && break; sleep 0.1; done
  if [ "$(cat "$side/ready" 2>/dev/null)" != listening ]; then
    echo "skipped: silent_name_server: $(cat "$side/ready" 2>/dev/null || echo 'no listener')"
    kill "$listener" 2>/dev/null || true
    rm -rf "$dir" "$side"
    return
  fi
  (cd "$dir" && exec unshare --mount --propagation private bash -c \
    'mount --bind "$1" /etc/resolv.conf && mount --bind "$2" /etc/hosts && exec "$3" kestrin.exe' \
    _ "$side/resolv.conf" "$side/hosts" "$wine_run" </dev/null >/dev/null 2>&1) &
  pid=$!
  for _ in $(seq 300); do [ -s "$side/asked" ] && break; sleep 0.1; done
  check test -s "$side/asked"
  check "$wine_run" "$probe" watch 3000 </dev/null
  closed_while_working
  kill "$listener" 2>/dev/null || true
  wait "$listener" 2>/dev/null || true
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

run_case written counted "$entry" "$written" no new "$logged_written"
run_case written_chunked chunked "$entry" "$written" no new "$logged_written"
run_case refused refuse "$entry" "$not_updated" "$box_refused" previous \
  'unavailable: the server answered 403 Forbidden: GP data has not updated since your last successful download of CATNR=44387 at 2026-12-08 18:00:00 UTC\.'
run_case not_updated none "" "$not_updated" "$box_no_connection" previous \
  "unavailable: $site accepts no connection"
run_case expired_certificate counted "$entry" "$not_updated" "$box_expired" previous \
  "unavailable: the server's certificate is not valid at this date \(check the computer's date and time\)" expired
run_case csv_answer csv "$entry" "$not_updated" no previous "$not_a_set"
run_case cut_in_a_line cut "$entry" "$not_updated" no previous "$not_a_set"
run_case name_missing counted "$without_name" "$not_updated" no previous \
  'not-updated: the answer \([0-9]+ bytes\) has no line with METEOR-M2 2'
run_case current counted "$entry" "$current" no previous 'current: norad_M2.txt is 0 min old, nothing asked' fresh
run_case held_by_a_reader counted "$entry" "$not_updated" no previous \
  'not-updated: norad_M2.txt could not be replaced: (access denied \(held by another program, or protected\) \(system error 5\)|the file is in use by another program \(system error 32\))' held
run_case tmp1_is_a_folder counted "$entry" "$written" no new "$logged_written" tmp1_folder
two_starts_case
trickle_case
move_case
# The METEOR satellites stations receive in 2026, and a station's mirror.
group="$work/group.txt"
cp "$catalogue" "$group"
entry3="$work/entry3.txt"
grep -A2 '^METEOR-M2 3 ' "$catalogue" >"$entry3"
expected3="$work/expected3.txt"
{ printf 'METEOR-M2 3\r\n'; tail -n 2 "$entry3"; } >"$expected3"
expected4="$work/expected4.txt"
{ printf 'METEOR-M2 4\r\n'; grep -A2 '^METEOR-M2 4 ' "$catalogue" | tail -n 2; } >"$expected4"
chosen_case meteor_m2_3 "$entry3" "$expected3" \
  "GET /NORAD/elements/gp.php?CATNR=57166&FORMAT=TLE HTTP/1.1" \
  "$logged_written \\[catalogue number 57166\\]" 57166
chosen_case mirror_group "$group" "$expected4" "GET /mirror/weather.txt HTTP/1.1" \
  "$logged_written \\[catalogue number 59051, from $site\\]" \
  "/SOURCE:HTTPS://$site/mirror/weather.txt" 059051
unattended_case unattended_refused refuse 2 previous
unattended_case unattended_written counted 0 new
command_line_case usage 0 "/? —" "/?" /close
command_line_case not_understood 87 "Не понятен параметр: /sauce" 57166 /sauce
silent_name_server_case
no_window_case
[ "$failures" = 0 ] && echo "e2e: all checks passed"
exit "$failures"
