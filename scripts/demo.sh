#!/usr/bin/env bash
# The main job on a fresh machine: packages, an optimised build, then `jrxlog demo` on the
# embedded SQLite default (a database file in the current folder).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" release
exec "$root/build/release/bin/jrxlog" demo "$@"
