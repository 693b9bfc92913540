#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the private MariaDB server need.
# Idempotent: does nothing when everything is there.
set -euo pipefail
packages=(build-essential cmake pkg-config libsqlite3-dev libmariadb-dev mariadb-server
          mariadb-client nlohmann-json3-dev libboost-dev libgtest-dev libgmock-dev
          libbenchmark-dev libcli11-dev help2man)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi
