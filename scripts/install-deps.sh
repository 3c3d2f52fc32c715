#!/usr/bin/env bash
# Installs the cross toolchain, Wine and the test tools on a Debian machine,
# and makes sure 32-bit programs can run. Safe to run again: it installs
# only what is missing.
set -euo pipefail

packages=(
  cmake make
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix mingw-w64-tools
  binutils-mingw-w64-i686 gcc-mingw-w64-x86-64-posix
  googletest libgtest-dev
  wine wine64 wine32:i386
  clang libclang-rt-14-dev
  zip xvfb x11-apps imagemagick fonts-wine fonts-wqy-microhei
)

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${as_root[@]}" dpkg --add-architecture i386
  fi
  "${as_root[@]}" apt-get update -q
  DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -q \
    --no-install-recommends "${missing[@]}"
fi

# Wine runs 32-bit Windows programs in 32-bit Linux processes. Where the
# kernel does not run those (32-bit emulation switched off), register
# qemu's user-mode emulator for them instead.
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  echo "32-bit programs do not run natively here: emulating them with qemu-i386" >&2
  if ! command -v qemu-i386-static >/dev/null; then
    DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -q \
      --no-install-recommends qemu-user-static
  fi
  binfmt=/proc/sys/fs/binfmt_misc
  [ -e "$binfmt/register" ] || "${as_root[@]}" mount -t binfmt_misc binfmt_misc "$binfmt"
  if [ ! -e "$binfmt/qemu-i386" ]; then
    magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
    mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
    echo ":qemu-i386:M::${magic}:${mask}:/usr/bin/qemu-i386-static:F" |
      "${as_root[@]}" tee "$binfmt/register" >/dev/null
  fi
  /usr/lib/wine/wine --version >/dev/null
fi
