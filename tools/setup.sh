#!/usr/bin/env bash
# Installs everything the project needs on a fresh Debian machine (i386 build).
# Idempotent: when every package is present it only checks and returns.
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

PACKAGES=(
  g++-multilib cmake pkg-config make
  libsdl2-dev:i386 libfreetype-dev:i386 libpng-dev:i386 zlib1g-dev:i386
  libogg-dev:i386 libvorbis-dev:i386 libsndfile1-dev:i386
  libenet-dev:i386 libcurl4-openssl-dev:i386 libtinyxml-dev:i386
  libmicrohttpd-dev:i386 curl
  libgtest-dev:i386 libgmock-dev:i386 libbenchmark-dev:i386
  fonts-dejavu-core fonts-open-sans fonts-noto-color-emoji lua5.4:i386
  clang libclang-rt-14-dev valgrind gcovr
)

missing=()
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
  need_update=1
fi
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -eq 0 ] && [ -z "${need_update:-}" ]; then
  exit 0
fi

export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
if [ "${#missing[@]}" -gt 0 ]; then
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
