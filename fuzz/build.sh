#!/usr/bin/env bash
# Builds the named libFuzzer targets (response url extract jpeg_decoder
# download tls; all by default) with clang, ASan and UBSan in build/fuzz, and
# defines what the fuzz scripts share: fuzz_targets, fuzz_seed NAME DIR and
# fuzz_options NAME. Sourced by fuzz/run.sh and fuzz/campaign.sh.
fuzz_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
fuzz_build="$fuzz_root/build/fuzz"
fuzz_targets=(response url extract jpeg_decoder download tls)

# Copies the committed inputs of target NAME (its corpus, its past findings,
# for the JPEG decoder the window picture) into the corpus directory DIR,
# keeping what DIR already holds.
fuzz_seed() {
  local d
  mkdir -p "$2"
  for d in "$fuzz_root/fuzz/corpus/$1" "$fuzz_root/fuzz/regressions/$1"; do
    [ -d "$d" ] && cp -n "$d"/* "$2"/ 2>/dev/null
  done
  [ "$1" = jpeg_decoder ] && cp -n "$fuzz_root/resources/picture.jpg" "$2"/
  return 0
}

# Input length and time-out per target: the extraction's inputs outgrow the
# 4096-byte file buffer, the download waits for its loopback server.
fuzz_options() {
  case "$1" in
    url) echo "-max_len=512 -timeout=10" ;;
    extract) echo "-max_len=10000 -timeout=10" ;;
    jpeg_decoder) echo "-timeout=10" ;;
    download | tls) echo "-max_len=4096 -timeout=30" ;;
    *) echo "-max_len=4096 -timeout=10" ;;
  esac
}

fuzz_build_targets() {
  if [ ! -f "$fuzz_build/CMakeCache.txt" ]; then
    CC=clang CXX=clang++ cmake -S "$fuzz_root" -B "$fuzz_build" -DCMAKE_BUILD_TYPE=Debug \
      -DKESTRIN_FUZZ=ON -DKESTRIN_SANITIZE=ON \
      "-DCMAKE_C_FLAGS=-fsanitize=fuzzer-no-link -O1" \
      "-DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link -O1" >/dev/null
  fi
  local programs=() t
  for t in "$@"; do programs+=("${t}_fuzz"); done
  cmake --build "$fuzz_build" --target "${programs[@]}" -j2 >/dev/null
}
