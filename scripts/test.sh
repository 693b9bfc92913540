#!/usr/bin/env bash
# Everything the tests need on a fresh machine: packages, a sanitized build, a private
# MariaDB server; then every test against SQLite and MariaDB. The server is stopped on exit.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh test
D=$(mktemp -d /tmp/jrx-test-mariadb.XXXXXX)
trap 'scripts/mariadb.sh stop "$D"; rm -rf "$D"' EXIT
export JRX_TEST_MARIADB_URL=$(scripts/mariadb.sh start "$D")
export JRX_SHARED_DATA=${JRX_SHARED_DATA:-$(cd .. && pwd)/shared/data}
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
cd build/test
ctest --output-on-failure -j 2 --timeout 900 "$@"
