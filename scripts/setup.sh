#!/usr/bin/env bash
# Installs what the project needs on a Debian 12 machine and builds the
# libraries the Windows cross build needs. Safe to run again: it installs
# only what is missing and reuses what it built before.
#   setup.sh [packages|libcrypto]   one of the two steps (default: both)
set -euo pipefail
step=${1:-all}
case "$step" in all|packages|libcrypto) ;; *) echo "usage: setup.sh [packages|libcrypto]" >&2; exit 2 ;; esac
root=$(cd "$(dirname "$0")/.." && pwd)
deps="$root/build/deps"
mkdir -p "$deps"

packages=(
  build-essential cmake ninja-build pkg-config python3 curl xz-utils dpkg-dev
  clang lld llvm libclang-rt-14-dev
  zlib1g-dev libssl-dev libstb-dev libvulkan-dev liblzma-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  mingw-w64 g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix libz-mingw-w64-dev
  wine wine64 libarchive-tools unzip unar zip ffmpeg
  libc6-dev-arm64-cross libgcc-12-dev-arm64-cross qemu-user squashfs-tools
  apksigner zipalign aapt
  libsdl2-dev xvfb xauth xdotool
  glslc mesa-vulkan-drivers vulkan-validationlayers imagemagick
  fonts-noto-core fonts-liberation2 fonts-noto-cjk fonts-play
)

sudo_if_needed() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

if [ "$step" != libcrypto ]; then
  missing=()
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    sudo_if_needed apt-get update -qq
    sudo_if_needed env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  fi
fi
[ "$step" != packages ] || exit 0

# --- OpenSSL's libcrypto for mingw-w64, from Debian's own openssl sources ---
ossl_out="$deps/openssl-mingw"
if [ ! -f "$ossl_out/libcrypto.a" ]; then
  work="$deps/openssl-src"
  rm -rf "$work"; mkdir -p "$work"
  # A deb-src entry derived from this machine's own apt sources.
  if ! apt-get source --print-uris openssl >/dev/null 2>&1; then
    src_list=/etc/apt/sources.list.d/quillmarsh-src.sources
    tmp=$(mktemp)
    for f in /etc/apt/sources.list.d/*.sources; do
      [ -f "$f" ] && [ "$f" != "$src_list" ] || continue
      awk 'BEGIN{RS=""; ORS="\n\n"} /Types:[^\n]*deb/ && /debian/ {sub(/Types:[^\n]*/, "Types: deb-src"); print}' "$f" >> "$tmp"
    done
    if [ -f /etc/apt/sources.list ]; then
      grep -E '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' > "$tmp.list" || true
      [ -s "$tmp.list" ] && sudo_if_needed cp "$tmp.list" /etc/apt/sources.list.d/quillmarsh-src.list
    fi
    [ -s "$tmp" ] && sudo_if_needed cp "$tmp" "$src_list"
    rm -f "$tmp" "$tmp.list"
    sudo_if_needed apt-get update -qq
  fi
  (
    cd "$work"
    apt-get source -qq --download-only openssl >/dev/null 2>&1 || true
    if ls openssl_*.dsc >/dev/null 2>&1; then
      dpkg-source -x openssl_*.dsc openssl >/dev/null
    else
      # The newest version's .dsc is missing from the mirror: take the
      # upstream tarball of that version instead.
      if ! ls openssl_*.orig.tar.* >/dev/null 2>&1; then
        uri=$(apt-get source --print-uris openssl 2>/dev/null | awk '$2 ~ /orig\.tar\.[a-z0-9]+$/ {gsub("\047", "", $1); print $1; exit}')
        [ -n "$uri" ] || { echo "setup: no openssl source available" >&2; exit 1; }
        curl -fsSL "$uri" -O
      fi
      mkdir openssl
      tar -xf "$(ls openssl_*.orig.tar.* | grep -v '\.asc$' | head -n1)" -C openssl --strip-components=1
    fi
  )
  (
    cd "$work/openssl"
    # Only libcrypto, and in it only what the launcher calls (SHA-256 and
    # HMAC, P-256 points over BIGNUM, DER certificates and their ECDSA
    # signatures) with what those need: the rest of OpenSSL took a third of
    # the build's time and is never linked in.
    ./Configure mingw64 no-shared no-tests no-module no-legacy no-engine no-dso no-async \
      no-autoload-config no-deprecated no-sock no-ssl no-tls no-dtls no-srp no-psk no-srtp \
      no-ocsp no-ct no-cms no-cmp no-ts no-comp no-rfc3779 no-multiblock no-nextprotoneg \
      no-aria no-bf no-blake2 no-camellia no-cast no-chacha no-poly1305 no-des no-dh no-dsa \
      no-ec2m no-sm2 no-sm3 no-sm4 no-gost no-idea no-md4 no-mdc2 no-ocb no-rc2 no-rc4 \
      no-rmd160 no-scrypt no-seed no-siphash no-siv no-whirlpool no-cmac no-ui-console \
      --cross-compile-prefix=x86_64-w64-mingw32- >/dev/null
    make -s -j"$(nproc)" build_generated >/dev/null
    make -s -j"$(nproc)" libcrypto.a >/dev/null 2>&1 || make -j"$(nproc)" libcrypto.a
  )
  mkdir -p "$ossl_out"
  cp "$work/openssl/libcrypto.a" "$ossl_out/"
  rm -rf "$ossl_out/include"; mkdir -p "$ossl_out/include"
  cp -r "$work/openssl/include/openssl" "$ossl_out/include/"
  rm -rf "$work"
  echo "setup: built libcrypto for mingw-w64 in $ossl_out"
fi
