#!/usr/bin/env bash
# The main job on a fresh machine: the packages the tool needs, an optimised build of the tool
# and its libraries only, then `jrxlog demo` on the embedded SQLite default (a database file in
# the current folder).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" tool
"$root/scripts/build.sh" tool
exec "$root/build/release/bin/jrxlog" demo "$@"
