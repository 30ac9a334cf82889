#!/bin/sh
# Builds the Debian package novaline-iptv_<version>_<arch>.deb from a clean build with
# the self-update switched off, and checks it with lintian (errors fail).
#   tools/package.sh [--build-dir DIR] [--keep] [--no-lintian]
# --keep reuses DIR instead of starting it afresh (the package test does that).
# Prints the package's path as its last line.
set -eu
cd "$(dirname "$0")/.."
build=build-deb
keep=0
lint=1
while [ $# -gt 0 ]; do
  case "$1" in
    --build-dir) build=$2; shift 2 ;;
    --keep) keep=1; shift ;;
    --no-lintian) lint=0; shift ;;
    *) echo "usage: $0 [--build-dir DIR] [--keep] [--no-lintian]" >&2; exit 2 ;;
  esac
done
[ "$keep" -eq 1 ] || rm -rf "$build"

# Debian's hardening (all of it) and optimisation flags.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
eval "$(dpkg-buildflags --export=sh)"

depends=$(packaging/runtime-depends.sh)
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DNOVALINE_SELF_UPDATE=OFF -DNOVALINE_WINTOOLS=OFF -DNOVALINE_BENCH=OFF \
  -DCMAKE_CXX_FLAGS="$CXXFLAGS $CPPFLAGS" -DCMAKE_C_FLAGS="$CFLAGS $CPPFLAGS" \
  -DCMAKE_EXE_LINKER_FLAGS="$LDFLAGS" \
  -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON -DNOVALINE_RUNTIME_DEPENDS="$depends" >/dev/null
# Only what the package holds.
cmake --build "$build" -j "$(nproc)" --target novaline-iptv packaging-data
rm -f "$build"/package/*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/package/novaline-iptv_*.deb)
if [ "$lint" -eq 1 ]; then
  lintian --fail-on error "$deb" >&2
fi
echo "$deb"
