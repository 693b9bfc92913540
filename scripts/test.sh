#!/usr/bin/env bash
# Everything the tests need on a fresh machine: packages, a sanitized build, a private
# MariaDB server and, where the cluster packages are installed, a private 3-node cluster; then
# every test against SQLite and MariaDB, the cluster test, and the MariaDB cases of the two
# logs once more against the cluster's first node. The servers are stopped on exit.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
D=$(mktemp -d /tmp/jrx-test-mariadb.XXXXXX)
C=""
cluster_pid=""
cleanup() {
  [ -z "$cluster_pid" ] || kill "$cluster_pid" 2>/dev/null || true
  [ -z "$C" ] || { "$root/scripts/galera.sh" stop "$C"; rm -rf "$C"; }
  "$root/scripts/mariadb.sh" stop "$D"
  rm -rf "$D"
}
trap cleanup EXIT
if [ -f /usr/lib/galera/libgalera_smm.so ] && command -v mariadb-backup >/dev/null &&
   command -v socat >/dev/null; then
  # The cluster needs ~30 s to start; it does so while the build runs.
  C=$(mktemp -d /tmp/jrx-test-galera.XXXXXX)
  "$root/scripts/galera.sh" start "$C" 3 >"$C/urls" 2>"$C/start.log" &
  cluster_pid=$!
else
  echo "cluster test SKIPPED: galera-4, mariadb-backup and socat are not all installed" >&2
fi
"$root/scripts/build.sh" test
JRX_TEST_MARIADB_URL=$("$root/scripts/mariadb.sh" start "$D")
export JRX_TEST_MARIADB_URL
# Its TLS port and the server without TLS, for the connection tests.
eval "$("$root/scripts/mariadb.sh" tls "$D")"
if [ -n "$cluster_pid" ]; then
  wait "$cluster_pid" || { cat "$C/start.log" >&2; exit 1; }
  cluster_pid=""
  JRX_TEST_CLUSTER_URLS=$(tr '\n' ' ' <"$C/urls")
  export JRX_TEST_CLUSTER_URLS
fi
export JRX_SHARED_DATA=${JRX_SHARED_DATA:-$(cd "$root/.." && pwd)/shared/data}
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
cd "$root/build/test"
# Tests are listed when ctest runs, so that the MariaDB cases exist only with a server.
ctest --output-on-failure -j 2 --timeout 900 "$@"
if [ -n "$C" ]; then
  node1=$(head -1 "$C/urls")
  for t in test_oplog test_eventlog; do
    echo "$t: MariaDB cases against cluster node 1"
    JRX_TEST_MARIADB_URL=$node1 "bin/$t" --gtest_filter='*/mariadb' --gtest_brief=1
  done
fi
