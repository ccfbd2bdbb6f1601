# Sourced: the environment of Kestrin's own Wine prefix, made on first use
# inside the build tree (32-bit, quiet, no Mono or Gecko prompts).
kestrin_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX=${KESTRIN_WINEPREFIX:-$kestrin_root/build/wineprefix}
export WINEARCH=win32
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml,winemenubuilder.exe=}

# Wine draws the window frames itself (X11 Driver "Managed" = N), so windows
# have their caption and close button under Xvfb without a window manager.
kestrin_wine_prefix() {
  [ -f "$WINEPREFIX/system.reg" ] && [ -f "$WINEPREFIX/.kestrin-unmanaged" ] && return 0
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      wineboot -i >/dev/null 2>&1 || true
      wineserver -w
    fi
    if [ ! -f "$WINEPREFIX/.kestrin-unmanaged" ]; then
      wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f \
        </dev/null >/dev/null 2>&1 && touch "$WINEPREFIX/.kestrin-unmanaged"
      wineserver -w
    fi
  ) 9>"$WINEPREFIX.lock"
}
