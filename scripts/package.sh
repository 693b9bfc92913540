#!/usr/bin/env bash
# Debian packages of the libraries, their development files and the tool, into build/package/:
# an optimised build for the prefix /usr, `cpack -G DEB`, then lintian on each package (an
# error fails the script). package.sh [extra cmake args...]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=build/package
# Packages do not point their binaries at a folder: the libraries lie where the loader looks.
# They are built with Debian's hardening flags.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DJRX_SANITIZE=OFF -DJRX_TESTS=OFF \
  -DJRX_BENCH=OFF -DJRX_DEB=ON -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_SKIP_INSTALL_RPATH=ON \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" \
  -DCMAKE_SHARED_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" "$@" >/dev/null
cmake --build "$dir" -j "$(nproc)"
rm -f "$dir"/*.deb
(cd "$dir" && cpack -G DEB >cpack.log 2>&1) || { cat "$dir/cpack.log" >&2; exit 1; }
status=0
for deb in "$dir"/*.deb; do
  echo "$deb"
  if command -v lintian >/dev/null; then
    lintian --fail-on error --suppress-tags-from-file packaging/lintian-accepted "$deb" || status=1
  fi
done
exit $status
