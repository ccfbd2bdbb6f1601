#!/usr/bin/env bash
# The release, as scripts/release.sh makes it from the committed tree.
#   release_test.sh build SOURCE WORK VERSION
#     clones the commit at HEAD of SOURCE into two folders of different
#     names and depths under WORK, runs the release in each (both use
#     SOURCE's cross-built libjpeg-turbo, as set-up made it once) and checks
#     that kestrin.exe, the archive and SHA256SUMS are the same bytes, that
#     no build folder is written into the program, and that its PE time
#     stamp is the commit's time.
#   release_test.sh archive SOURCE WORK VERSION
#     checks the archive of the first clone: its entries, that its
#     kestrin.exe is the one built, its dates, SHA256SUMS, and that the
#     texts name the version, the commit and the libraries' versions.
set -euo pipefail
mode=$1 source=$2 work=$3 version=$4
one=$work/one
two=$work/second-folder/clone-two
zip=dist/kestrin-$version-win32.zip
fail() { echo "FAIL: $*" >&2; exit 1; }

if [ "$mode" = build ]; then
  commit=$(git -C "$source" rev-parse HEAD)
  rm -rf "$work"
  for d in "$one" "$two"; do
    mkdir -p "$(dirname "$d")"
    git clone -q --no-checkout "$source" "$d"
    git -C "$d" checkout -q --detach "$commit"
    ln -s "$source/.cache" "$d/.cache"
    (cd "$d" && bash scripts/release.sh >/dev/null)
  done
  for f in build/release/app/kestrin.exe "$zip" dist/SHA256SUMS; do
    cmp "$one/$f" "$two/$f" || fail "$f differs between the two builds"
  done
  for d in "$one" "$two" "$source" "$(cd "$source" && pwd -P)"; do
    ! grep -aqF "$d" "$one/build/release/app/kestrin.exe" || fail "kestrin.exe holds the path $d"
  done
  python3 - "$one/build/release/app/kestrin.exe" "$(git -C "$source" log -1 --format=%ct)" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
pe = struct.unpack_from("<I", data, 0x3C)[0]
assert data[pe:pe + 4] == b"PE\0\0", "not a PE file"
stamp = struct.unpack_from("<I", data, pe + 8)[0]
assert stamp == int(sys.argv[2]), f"PE time stamp {stamp}, commit time {sys.argv[2]}"
PY
  echo "kestrin.exe and $zip are the same in $one and $two"
  exit 0
fi

[ "$mode" = archive ] || fail "unknown mode $mode"
[ -f "$one/$zip" ] || fail "no $zip in $one"
cd "$one"
commit=$(git rev-parse HEAD)
# The checksums check what they name: the archive here, the program unpacked.
(cd dist && sha256sum --quiet --ignore-missing -c SHA256SUMS) || fail "SHA256SUMS does not match $zip"
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
python3 -m zipfile -e "$zip" "$unpacked"
cp dist/SHA256SUMS "$unpacked/"
(cd "$unpacked" && sha256sum --quiet --ignore-missing -c SHA256SUMS) || fail "SHA256SUMS does not match kestrin.exe"
[ "$(grep -c . dist/SHA256SUMS)" = 2 ] || fail "SHA256SUMS should name the archive and kestrin.exe"
cmp "$unpacked/kestrin.exe" build/release/app/kestrin.exe || fail "the archive's kestrin.exe is not the one built"

python3 - "$zip" "$(git log -1 --format=%ct)" <<'PY'
import sys, time, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    names = [i.filename for i in z.infolist()]
    assert names == ["kestrin.exe", "README.txt", "LICENSE", "THIRD-PARTY-NOTICES.txt"], names
    when = time.gmtime(int(sys.argv[2]))[:6]
    for i in z.infolist():
        # zip dates are kept in 2-second steps
        assert i.date_time == when[:5] + (when[5] // 2 * 2,), (i.filename, i.date_time, when)
        assert i.external_attr >> 16 in (0o100644, 0o100755), (i.filename, oct(i.external_attr))
    for name in names[1:]:
        text = z.read(name)
        assert b"\n" not in text.replace(b"\r\n", b""), f"{name}: a line not ended by CR LF"
PY

readme=$unpacked/README.txt
notices=$unpacked/THIRD-PARTY-NOTICES.txt
exe_sum=$(sha256sum build/release/app/kestrin.exe | cut -d' ' -f1)
for want in "Kestrin $version" "$commit" "$exe_sum" "based in part on the work of the Independent JPEG Group"; do
  grep -qF "$want" "$readme" || fail "README.txt lacks \"$want\""
done
! grep -q '@[A-Z0-9_]*@' "$readme" || fail "README.txt keeps a placeholder"
grep -q 'Copyright (c) 2026 The Kestrin developers' "$unpacked/LICENSE" || fail "LICENSE lacks the copyright line"
grep -q 'based in part on the work of the Independent JPEG Group' "$notices" ||
  fail "THIRD-PARTY-NOTICES.txt lacks the IJG sentence"
# The notices name the versions this build links.
jpeg=$(basename "$(ls -d .cache/src/libjpeg-turbo-*/ | head -n 1)")
versions=("libjpeg-turbo ${jpeg##*-}"
          "mingw-w64-i686-dev $(dpkg-query -W -f='${Version}' mingw-w64-i686-dev)"
          "g++-mingw-w64-i686-posix $(dpkg-query -W -f='${Version}' g++-mingw-w64-i686-posix)")
for want in "${versions[@]}"; do
  grep -qF "$want" "$notices" || fail "THIRD-PARTY-NOTICES.txt does not name \"$want\""
done
echo "$zip holds what it should"
