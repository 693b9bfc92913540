#!/usr/bin/env bash
# Builds the Debian packages (lintian must find no error), unpacks them into a temporary root
# as dpkg lays them out, runs the tool from there against a SQLite log, and builds the program
# of tests/install against the unpacked development package, through find_package and through
# pkg-config. unpack.sh SOURCE_DIR
set -euo pipefail
src=$1 work=$(mktemp -d /tmp/jrx-deb.XXXXXX)
trap 'rm -rf "$work"' EXIT
fail() { echo "$*"; exit 1; }
command -v lintian >/dev/null || fail "lintian is not installed (scripts/setup.sh installs it)"
"$src/scripts/package.sh" >"$work/package.log" 2>&1 || fail "$(tail -40 "$work/package.log")"
debs=("$src"/build/package/*.deb)
[ ${#debs[@]} = 3 ] || fail "expected three packages, got: ${debs[*]}"
root=$work/root lib=$work/root/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)
version=$(sed -n 's/^project(jrxlog VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")-1
for deb in "${debs[@]}"; do dpkg-deb -x "$deb" "$root"; done

field() { dpkg-deb -f "$src/build/package/$1_${version}_$(dpkg --print-architecture).deb" "$2"; }
# Dependencies as dpkg-shlibdeps found them in the binaries, and the packages tied to one version.
field libjrxlog1 Depends | grep -q 'libsqlite3-0' && field libjrxlog1 Depends | grep -q 'libmariadb3' ||
  fail "libjrxlog1 does not depend on the database libraries: $(field libjrxlog1 Depends)"
for p in jrxlog libjrxlog-dev; do
  field $p Depends | grep -qF "libjrxlog1 (= $version)" || fail "$p: $(field $p Depends)"
done
for p in libjrxlog1 libjrxlog-dev jrxlog; do
  [ -s "$root/usr/share/doc/$p/copyright" ] && zcat "$root/usr/share/doc/$p/changelog.Debian.gz" |
    head -1 | grep -qF "($version)" || fail "$p: no copyright or changelog of $version"
done
[ -f "$lib/pkgconfig/jrxlog-logdb.pc" ] && [ -f "$lib/cmake/JRXLog/JRXLogConfig.cmake" ] &&
  [ -f "$root/usr/include/jrx/JRXLogDBLocal.h" ] || fail "the development files are missing"
zcat "$root/usr/share/man/man1/jrxlog.1.gz" | grep -q '^\.TH JRXLOG' &&
  [ -s "$root/usr/share/bash-completion/completions/jrxlog" ] || fail "no manual or completion"
# Installed where the loader looks, the binaries name no folder of their own.
! readelf -d "$root/usr/bin/jrxlog" "$lib"/libJRX*.so.1 | grep -E 'R(UN)?PATH' ||
  fail "a packaged binary carries a library path"

export LD_LIBRARY_PATH=$lib
tool=$root/usr/bin/jrxlog
"$tool" --db "sqlite:$work/t.db" demo --seed 3 --size 8 >"$work/demo.txt" 2>&1 &&
  grep -q "Newest events" "$work/demo.txt" || fail "the packaged tool: $(cat "$work/demo.txt")"
[ "$("$tool" --db "sqlite:$work/t.db" ops --json --no-envs | wc -l)" -gt 8 ] ||
  fail "the packaged tool lists nothing"

cmake -S "$src/tests/install" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$root/usr" \
  >"$work/build.log" 2>&1 && cmake --build "$work/cmake" >>"$work/build.log" 2>&1 ||
  fail "$(cat "$work/build.log")"
"$work/cmake/consumer" "$work/a.db"
export PKG_CONFIG_PATH=$lib/pkgconfig
# shellcheck disable=SC2046
c++ -std=c++17 "$src/tests/install/consumer.cpp" -o "$work/consumer-pc" \
  $(pkg-config --cflags --libs jrxlog-logdb)
"$work/consumer-pc" "$work/b.db"
echo "packages: ${debs[*]##*/}"
