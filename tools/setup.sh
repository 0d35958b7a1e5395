#!/usr/bin/env bash
# Installs what building, running and testing the gateway needs on Debian 12.
# Idempotent: when every package is present it changes nothing and returns at once.
set -euo pipefail

PACKAGES=(
  cmake make ninja-build
  g++-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev
  wine wine32:i386 wine64
  xvfb xauth x11-utils
  googletest
  python3 python3-pytest python3-zeroconf
  ffmpeg iproute2 tcpdump procps psmisc
  clang-format
  clang libclang-rt-14-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
  name=${p%%:*}
  arch=${p#*:}
  [ "$arch" = "$p" ] && arch=""
  if [ -n "$arch" ]; then
    query="$name:$arch"
  else
    query="$name"
  fi
  status=$(dpkg-query -W -f='${Status}' "$query" 2>/dev/null || true)
  case "$status" in
    *"install ok installed"*) ;;
    *) missing+=("$p") ;;
  esac
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all packages present"
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi

echo "setup: installing ${missing[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "setup: enabling the i386 architecture (32-bit Wine)"
  $SUDO dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
echo "setup: apt-get update"
$SUDO apt-get update -q
echo "setup: apt-get install"
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
echo "setup: done"
