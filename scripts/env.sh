# Sourced by the other scripts: where the build and the private Wine prefix
# live.
HDW_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
HDW_BUILD="${HDW_BUILD:-$HDW_ROOT/build}"
export WINEPREFIX="${WINEPREFIX:-$HDW_BUILD/wine-prefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEARCH=win64
HDW_BIN="$HDW_BUILD/win32/bin"

# Installs what is missing, then tells the tests whether 32-bit programs run
# under qemu's emulator (registered when the kernel cannot run them).
hdw_install() {
  "$HDW_ROOT/scripts/install-deps.sh"
  if [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; then
    export HDW_I386_EMULATED=1
  fi
}

hdw_build() {
  cmake -S "$HDW_ROOT" -B "$HDW_BUILD/win32" \
    -DCMAKE_TOOLCHAIN_FILE="$HDW_ROOT/cmake/mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$HDW_BUILD/win32" -j "$(nproc)"
}

# Keeps one wine server up for the whole run and stops it (only this
# prefix's) when the calling script ends.
hdw_start_wineserver() {
  mkdir -p "$WINEPREFIX"
  # Fails when this prefix's server already runs; either way one is up, and
  # the first wine command would start one otherwise.
  wineserver -p >/dev/null 2>&1 </dev/null || true
  trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
}
