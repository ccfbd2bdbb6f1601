# Sourced: the environment of Kestrin's own Wine prefix, made on first use
# inside the build tree (32-bit, quiet, no Mono or Gecko prompts).
# KESTRIN_WINEARCH=win64 selects a 64-bit prefix and Wine's 64-bit loader,
# for the 64-bit test build on machines that cannot start 32-bit programs;
# commands then go through $kestrin_wine, not the "wine" wrapper, which
# would pick the 32-bit loader because it is installed.
kestrin_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
if [ "${KESTRIN_WINEARCH:-win32}" = win64 ]; then
  export WINEPREFIX=${KESTRIN_WINEPREFIX:-$kestrin_root/build/wineprefix64}
  export WINEARCH=win64
  export WINELOADER=/usr/lib/wine/wine64
  kestrin_wine=$WINELOADER
else
  export WINEPREFIX=${KESTRIN_WINEPREFIX:-$kestrin_root/build/wineprefix}
  export WINEARCH=win32
  kestrin_wine=wine
fi
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml,winemenubuilder.exe=}

kestrin_marlett=/usr/share/wine/fonts/marlett.ttf
kestrin_prefix_fonts=$WINEPREFIX/drive_c/windows/Fonts

# Wine draws the window frames itself (X11 Driver "Managed" = N), so windows
# have their caption and close button under Xvfb without a window manager.
# It draws the caption buttons with its Marlett font, which this Wine does
# not find in its own font folder: the prefix's Fonts folder gets a copy.
kestrin_wine_prefix() {
  [ -f "$WINEPREFIX/system.reg" ] && [ -f "$WINEPREFIX/.kestrin-unmanaged" ] &&
    { [ -f "$kestrin_prefix_fonts/marlett.ttf" ] || [ ! -f "$kestrin_marlett" ]; } && return 0
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      "$kestrin_wine" wineboot -i >/dev/null 2>&1 || true
      wineserver -w
    fi
    if [ ! -f "$WINEPREFIX/.kestrin-unmanaged" ]; then
      "$kestrin_wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f \
        </dev/null >/dev/null 2>&1 && touch "$WINEPREFIX/.kestrin-unmanaged"
      wineserver -w
    fi
    if [ -f "$kestrin_marlett" ] && [ ! -f "$kestrin_prefix_fonts/marlett.ttf" ]; then
      mkdir -p "$kestrin_prefix_fonts"
      cp "$kestrin_marlett" "$kestrin_prefix_fonts/"
    fi
  ) 9>"$WINEPREFIX.lock"
}

# Starts a private Xvfb display (the first free one from :90) and exports
# DISPLAY; the server's process id is left in kestrin_xvfb_pid for the
# caller to end. Fails when no display could be started.
kestrin_private_display() {
  local n
  for n in $(seq 90 120); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    kestrin_xvfb_pid=$!
    export DISPLAY=":$n"
    for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$n" ] && return 0; sleep 0.05; done
    return 1
  done
  return 1
}
