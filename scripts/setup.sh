#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks to build and test Kestrin, and
# cross-builds libjpeg-turbo for Windows into .cache/. Safe to run again: a
# second run only checks and returns in seconds.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cache="$root/.cache"

packages=(g++-mingw-w64-i686 wine wine32:i386 fonts-wine xvfb xauth xdotool cmake
          googletest libjpeg62-turbo-dev libjpeg-turbo-progs dpkg-dev x11-apps imagemagick
          locales libgnutls30:i386 openssl python3 util-linux mount ninja-build)

# Leaves in missing those of the named packages that are not installed.
find_missing() {
  missing=()
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' ||
      missing+=("$p")
  done
}

# A mirror caught mid-sync fails a fetch for some minutes: try the command up
# to five times, KESTRIN_APT_PAUSE seconds apart, before giving up.
again() {
  local n=1 pause=${KESTRIN_APT_PAUSE:-60}
  until "$@"; do
    [ $n -lt 5 ] || return 1
    n=$((n + 1))
    echo "$* failed; trying again in ${pause}s (try $n of 5)" >&2
    sleep "$pause"
  done
}

sudo=""
[ "$(id -u)" = 0 ] || sudo=sudo
export DEBIAN_FRONTEND=noninteractive

# The package lists, brought up to date once a run, when anything is needed.
apt_ready=0
prepare_apt() {
  [ $apt_ready = 0 ] || return 0
  apt_ready=1
  dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386
  # apt-get source needs a deb-src entry for the same suites as the binaries.
  if ! grep -rqs '^Types:.*deb-src\|^deb-src' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    local src=/etc/apt/sources.list.d/debian.sources
    if [ -f "$src" ]; then
      sed 's/^Types: deb$/Types: deb-src/' "$src" | $sudo tee /etc/apt/sources.list.d/kestrin-deb-src.sources >/dev/null
    else
      sed -n 's/^deb /deb-src /p' /etc/apt/sources.list | $sudo tee /etc/apt/sources.list.d/kestrin-deb-src.list >/dev/null
    fi
  fi
  # Should the mirror still be mid-sync, the lists already there may serve.
  again $sudo apt-get update -qq || echo "apt-get update failed; going on with the lists there are" >&2
}

# Installs those of the named packages that are missing, or stops naming them.
install_packages() {
  find_missing "$@"
  [ ${#missing[@]} -gt 0 ] || return 0
  prepare_apt
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" && return 0
  # A list that failed to update can leave the amd64 lists with security
  # updates the i386 ones lack, and a package installed for both must be
  # one version on both. The release's own lists agree across architectures;
  # they cannot help where amd64 already has a newer version (no downgrade).
  local codename
  # shellcheck source=/dev/null
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  if [ -n "$codename" ]; then
    echo "apt-get install failed; trying again with both architectures from $codename's own lists, as a mirror mid-sync can leave them at different versions" >&2
    $sudo apt-get install -y -qq --no-install-recommends -t "$codename" "${missing[@]}" && return 0
  fi
  find_missing "${missing[@]}"
  echo "Could not install: ${missing[*]}. The package mirror may be mid-sync; run scripts/setup.sh again later." >&2
  exit 1
}

install_packages "${packages[@]}"

# A kernel that cannot start 32-bit programs (some virtual machines) cannot
# run the 32-bit Wine, which only shows once it is installed; the Windows
# tests then run as 64-bit programs under Wine's 64-bit loader
# (scripts/test.sh), which needs these too.
arches=(i686)
if [ "$(bash "$root/scripts/wine-kind.sh")" != win32 ]; then
  install_packages g++-mingw-w64-x86-64 wine64
  arches+=(x86_64)
fi

need_src=0
for a in "${arches[@]}"; do
  [ -f "$cache/libjpeg-turbo-$a/lib/libjpeg.a" ] || need_src=1
done
[ $need_src = 0 ] || prepare_apt

# Wine UI tests run with the Windows-1251 code page of the program's users.
if ! locale -a 2>/dev/null | grep -qi '^ru_RU\.cp1251$'; then
  localedef -c -i ru_RU -f CP1251 ru_RU.CP1251 2>/dev/null || true
fi

if [ $need_src = 1 ]; then
  mkdir -p "$cache/src"
  if ! compgen -G "$cache/src/libjpeg-turbo-*/" >/dev/null; then
    (cd "$cache/src" && again apt-get source -qq libjpeg-turbo)
  fi
  srcdir=$(compgen -G "$cache/src/libjpeg-turbo-*/" | head -n 1)
  # The library's bytes do not depend on the day or the folder it is built
  # in: its build string is the date of its Debian source release.
  export SOURCE_DATE_EPOCH
  SOURCE_DATE_EPOCH=$(dpkg-parsechangelog -l "$srcdir/debian/changelog" -S Timestamp)
  for a in "${arches[@]}"; do
    [ -f "$cache/libjpeg-turbo-$a/lib/libjpeg.a" ] && continue
    rm -rf "$cache/build-libjpeg-$a"
    cmake -S "$srcdir" -B "$cache/build-libjpeg-$a" \
      -DCMAKE_C_FLAGS="-ffile-prefix-map=$cache/=" \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$a.cmake" \
      -DCMAKE_BUILD_TYPE=Release -DWITH_JPEG8=ON -DENABLE_SHARED=OFF \
      -DWITH_TURBOJPEG=OFF -DWITH_SIMD=OFF -DCMAKE_INSTALL_LIBDIR="$cache/libjpeg-turbo-$a/lib" \
      -DCMAKE_INSTALL_PREFIX="$cache/libjpeg-turbo-$a" >/dev/null
    cmake --build "$cache/build-libjpeg-$a" -j"$(nproc)" >/dev/null
    cmake --install "$cache/build-libjpeg-$a" >/dev/null
  done
fi
