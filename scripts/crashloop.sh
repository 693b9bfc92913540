#!/usr/bin/env bash
# Kill loops: jrxlog import, compact with its sweep, a layout upgrade and copy killed with
# SIGKILL at random moments, ROUNDS rounds per database, each checked (scripts/crashloop.py).
#   crashloop.sh [ROUNDS [sqlite|mariadb]]
#                             JRXLOG: the tool (build/test/bin/jrxlog); JRX_TEST_MARIADB_URL:
#                             a server for the MariaDB rounds (skipped when unset)
set -euo pipefail
exec python3 "$(dirname "$0")/crashloop.py" "$@"
