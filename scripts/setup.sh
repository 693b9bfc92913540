#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the private MariaDB server need.
# Idempotent: does nothing when everything is there. The cluster packages are optional: where
# they cannot be installed the cluster test says so and is skipped.
set -euo pipefail
packages=(build-essential cmake pkg-config libsqlite3-dev libmariadb-dev mariadb-server
          mariadb-client nlohmann-json3-dev libboost-dev libgtest-dev libgmock-dev
          libbenchmark-dev)
cluster_packages=(galera-4 mariadb-backup socat)
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
  echo "cluster packages (${cluster_packages[*]}) not installable here: the cluster test will be skipped" >&2
