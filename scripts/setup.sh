#!/usr/bin/env bash
# Installs the Debian packages that the work at hand needs. Idempotent: does nothing when
# everything is there.
#   setup.sh tool  what building the tool and its libraries needs (the demo)
#   setup.sh       everything: the tests, the benchmarks, the private MariaDB server, the
#                  packages; optional packages that cannot be installed make the test that
#                  needs them say so and be skipped, and nothing else depends on them.
set -euo pipefail
profile=${1:-all}
tool_packages=(g++ make cmake pkg-config libsqlite3-dev libmariadb-dev nlohmann-json3-dev
               libboost-dev libcpp-httplib-dev libcli11-dev libjs-chart.js)
test_packages=(build-essential mariadb-server mariadb-client libgtest-dev libgmock-dev
               libbenchmark-dev ccache dpkg-dev lintian fakeroot clang-14
               libfuzzer-14-dev openssl
               python3-prometheus-client)  # parses /metrics as a scraper would
cluster_packages=(galera-4 mariadb-backup socat)  # the cluster test
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
updated=0
install_missing() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -gt 0 ] || return 0
  echo "installing: ${missing[*]}"
  [ $updated = 1 ] || { $SUDO apt-get update -qq; updated=1; }
  # Recommends are left out: the build needs none of them, and they double the download.
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
}
case "$profile" in
  tool) install_missing "${tool_packages[@]}"; exit 0 ;;
  all) ;;
  *) echo "usage: setup.sh [tool|all]" >&2; exit 2 ;;
esac
install_missing "${tool_packages[@]}" "${test_packages[@]}"
install_missing "${cluster_packages[@]}" ||
  echo "${cluster_packages[*]} could not be installed: the cluster test will be skipped" >&2
# The browser test of the web view.
if ! command -v chromium >/dev/null 2>&1; then
  install_missing chromium ||
    echo "chromium could not be installed: the browser test will be skipped" >&2
fi
