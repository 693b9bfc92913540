#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the private MariaDB server need.
# Idempotent: does nothing when everything is there. Optional packages: where they cannot be
# installed, the test that needs them says so and is skipped, and nothing else depends on them.
set -euo pipefail
packages=(build-essential cmake pkg-config libsqlite3-dev libmariadb-dev mariadb-server
          mariadb-client nlohmann-json3-dev libboost-dev libgtest-dev libgmock-dev
          libbenchmark-dev libcpp-httplib-dev libcli11-dev help2man)
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
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
}
install_missing "${packages[@]}"
install_missing "${cluster_packages[@]}" ||
  echo "${cluster_packages[*]} could not be installed: the cluster test will be skipped" >&2
# The browser test of the web view.
if ! command -v chromium >/dev/null 2>&1; then
  install_missing chromium ||
    echo "chromium could not be installed: the browser test will be skipped" >&2
fi
