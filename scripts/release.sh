#!/usr/bin/env bash
# Builds the release of the checked-out commit from scratch in build/release
# and writes dist/kestrin-VERSION-win32.zip (kestrin.exe, README.txt,
# LICENSE, THIRD-PARTY-NOTICES.txt) and dist/SHA256SUMS. The same commit
# gives the same bytes in any folder on any day: every time in the program
# and the archive is the commit's (SOURCE_DATE_EPOCH).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
  echo "release.sh: the work tree has uncommitted changes; commit them first," >&2
  echo "so that the release can be told and built again from its commit." >&2
  exit 1
fi
bash scripts/setup.sh

commit=$(git rev-parse HEAD)
export SOURCE_DATE_EPOCH
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct "$commit")

build=build/release
rm -rf "$build"
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" --target kestrin -j"$(nproc)" >/dev/null
exe=$build/app/kestrin.exe

# The version is the project's, as the version resource has it.
version=$(sed -n 's/^#define KESTRIN_VERSION_TEXT "\(.*\)"$/\1/p' "$build/resources/version.h")
[ -n "$version" ] || { echo "release.sh: no version in $build/resources/version.h" >&2; exit 1; }
exe_sum=$(sha256sum "$exe" | cut -d' ' -f1)
sed -e "s/@VERSION@/$version/" -e "s/@COMMIT@/$commit/" -e "s/@EXE_SHA256@/$exe_sum/" \
  docs/README.txt >"$build/README.txt"

zip=kestrin-$version-win32.zip
mkdir -p dist
rm -f dist/kestrin-*-win32.zip dist/SHA256SUMS
python3 scripts/release_zip.py "dist/$zip" "$SOURCE_DATE_EPOCH" \
  kestrin.exe="$exe" README.txt="$build/README.txt" LICENSE=LICENSE \
  THIRD-PARTY-NOTICES.txt=THIRD-PARTY-NOTICES.txt
{
  (cd dist && sha256sum "$zip")
  echo "$exe_sum  kestrin.exe"
} >dist/SHA256SUMS
echo "dist/$zip (commit $commit)"
cat dist/SHA256SUMS
