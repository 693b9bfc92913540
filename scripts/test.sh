#!/usr/bin/env bash
# Everything the tests need on a fresh machine: packages, a sanitized build, a private
# MariaDB server; then every test against SQLite and MariaDB. The server is stopped on exit.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" test
D=$(mktemp -d /tmp/jrx-test-mariadb.XXXXXX)
trap '"$root/scripts/mariadb.sh" stop "$D"; rm -rf "$D"' EXIT
JRX_TEST_MARIADB_URL=$("$root/scripts/mariadb.sh" start "$D")
export JRX_TEST_MARIADB_URL
export JRX_SHARED_DATA=${JRX_SHARED_DATA:-$(cd "$root/.." && pwd)/shared/data}
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
cd "$root/build/test"
# Tests are listed when ctest runs, so that the MariaDB cases exist only with a server.
ctest --output-on-failure -j 2 --timeout 900 "$@"
