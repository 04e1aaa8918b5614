#!/usr/bin/env bash
# Builds the Debian package: build/deb/sonvale_<version>_<arch>.deb, checked by lintian and by the
# desktop entry's and AppStream's validators. Install it with: sudo apt install ./build/deb/sonvale_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh --packaging

build=build/deb
# Debian's hardening flags (fortified functions, stack protector, read-only relocations bound at
# start): the programs read discs, files and server answers from anywhere.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
flags() { dpkg-buildflags --get "$1"; }
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_C_FLAGS="$(flags CPPFLAGS) $(flags CFLAGS)" -DCMAKE_CXX_FLAGS="$(flags CPPFLAGS) $(flags CXXFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(flags LDFLAGS)" -DSONVALE_TESTS=OFF -DSONVALE_DEB=ON >/dev/null
cmake --build "$build"
rm -f "$build"/sonvale_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/sonvale_*.deb)

# What the package holds, checked as installed.
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
desktop-file-validate "$root"/usr/share/applications/org.sonvale.Sonvale.desktop
appstreamcli validate --no-net "$root"/usr/share/metainfo/org.sonvale.Sonvale.metainfo.xml >/dev/null
# As root lintian says it should not be; that line is not about the package.
lintian --fail-on error "$deb" 2> >(grep -v '^running with root privileges is not recommended!$' >&2)
echo "$deb"
