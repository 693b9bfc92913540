#!/usr/bin/env bash
# Installs the build into a fresh prefix and builds a small program of another project
# against it, once through the CMake package and once through pkg-config; both must save a
# progress report into an SQLite log and read it back. consume.sh BUILD_DIR [CXXFLAGS]
set -euo pipefail
build=$1 flags=${2:-} here=$(cd "$(dirname "$0")" && pwd) work=$(mktemp -d /tmp/jrx-install.XXXXXX)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix lib=$work/prefix/lib
fail() { echo "$*"; exit 1; }
cmake --install "$build" --prefix "$prefix" >/dev/null

# Versioned libraries; no path of the build tree; the tool, its manual and completion; the
# internals kept inside.
for l in JRXLogDBLocal JRXFramework JRXQuery; do
  [ "$(readlink -f "$lib/lib$l.so")" = "$lib/lib$l.so.1.0.0" ] &&
    objdump -p "$lib/lib$l.so.1" | grep -q "SONAME *lib$l.so.1$" || fail "lib$l: version"
done
! grep -rl -e "$(cd "$here/../.." && pwd)" -e "$build" "$prefix/include" "$lib/pkgconfig" \
  "$lib/cmake" || fail "installed files name the build tree"
[ -s "$prefix/share/man/man1/jrxlog.1" ] && "$prefix/bin/jrxlog" --version >/dev/null &&
  [ -s "$prefix/share/bash-completion/completions/jrxlog" ] || fail "the tool is not installed"
! nm -D --defined-only "$lib/libJRXLogDBLocal.so" | grep ' _ZN3JRX5logdb' ||
  fail "libJRXLogDBLocal exports its internals (JRX::logdb)"
# The query interface's headers each stand on their own; what the libraries share inside
# them is not installed.
for h in ASThreadCache.h ASThreadOwn.h ASInlineList.h; do
  [ ! -e "$prefix/include/jrx/$h" ] || fail "the internal header $h is installed"
done
for h in "$prefix"/include/jrx/AS*.h; do
  echo "#include <jrx/${h##*/}>" | c++ -std=c++17 -fsyntax-only -I"$prefix/include" -x c++ - ||
    fail "${h##*/} does not compile on its own"
done

cmake -S "$here" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_CXX_FLAGS="$flags" \
  >"$work/build.log" 2>&1 && cmake --build "$work/cmake" >>"$work/build.log" 2>&1 ||
  fail "$(cat "$work/build.log")"
"$work/cmake/consumer" "$work/a.db"
export PKG_CONFIG_PATH=$lib/pkgconfig
# shellcheck disable=SC2046,SC2086
c++ -std=c++17 $flags "$here/consumer.cpp" -o "$work/consumer-pc" $(pkg-config --cflags --libs \
  jrxlog-logdb) -Wl,-rpath,"$(pkg-config --variable=libdir jrxlog-logdb)"
"$work/consumer-pc" "$work/b.db"
