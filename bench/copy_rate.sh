#!/usr/bin/env bash
# The rate of `jrxlog copy`: a log of about ROWS rows made on SQLite, copied into an empty
# SQLite file and, when JRX_TEST_MARIADB_URL names a server, into an empty MariaDB database and
# from there back into SQLite. Prints the rows per second of each copy (the copy itself, as the
# tool reports it) and the time of the whole command, verification included.
#   bench/copy_rate.sh [ROWS]     default 1000000
# The log is filled with bulk SQL: per operation one op_log row, four progress rows and two
# links; per event one events_log row and two links (ten rows for one operation and one event).
set -euo pipefail
cd "$(dirname "$0")/.."
rows=${1:-1000000}
n=$((rows / 10))
jrxlog=${JRXLOG:-build/release/bin/jrxlog}
work=$(mktemp -d /tmp/jrx-copy-rate.XXXXXX)
trap 'rm -rf "$work"' EXIT

"$jrxlog" --db "sqlite:$work/source.db" demo --size 4 --time 1701000000 >/dev/null
sqlite3 "$work/source.db" <<SQL
BEGIN;
CREATE TEMP TABLE seq AS WITH RECURSIVE s(seq) AS (SELECT 1 UNION ALL SELECT seq + 1 FROM s WHERE seq < $n) SELECT seq FROM s;
INSERT INTO op_log (op_id, op, id, parent_id, time, status, session_id)
  SELECT 1000 + seq, 'server.create', 'bulk-' || seq, '', 1600000000 + seq, 3, 'session-' || (seq % 97) FROM seq;
INSERT INTO op_log_data (op_id, progress, time, status, info)
  SELECT 1000 + seq, p * 25, 1600000000 + seq + p, CASE WHEN p = 4 THEN 3 ELSE 2 END,
         '{"text":"step ' || p || ' of server ' || seq || '","params":{"vm":"web-' || seq || '"}}'
  FROM seq, (SELECT 1 AS p UNION ALL SELECT 2 UNION ALL SELECT 3 UNION ALL SELECT 4);
INSERT INTO op_log_env (op_id, env_id, role, is_default)
  SELECT 1000 + seq, (SELECT MIN(id) FROM env_log), 'S', 'N' FROM seq;
INSERT INTO op_log_env (op_id, env_id, role, is_default)
  SELECT 1000 + seq, (SELECT MAX(id) FROM env_log), 'O', 'Y' FROM seq;
INSERT INTO events_log (event_id, guid, code, time, category, type, sid, info_bin, info, data)
  SELECT 1000 + seq, printf('%08x-0000-4000-8000-%012x', seq, seq), seq % 7, 1600000000 + seq,
         'vm', 'env_status', '0102ff', NULL,
         '{"text":"web-' || seq || ' is up","params":{"old_status":"4","new_status":"1"}}', NULL
  FROM seq;
INSERT INTO events_log_env (event_id, env_id, role)
  SELECT 1000 + seq, (SELECT MIN(id) FROM env_log), 'S' FROM seq;
INSERT INTO events_log_env (event_id, env_id, role)
  SELECT 1000 + seq, (SELECT MAX(id) FROM env_log), 'O' FROM seq;
COMMIT;
ANALYZE;
SQL

copy() {  # NAME FROM TO
  local t0 t1 out
  t0=$(date +%s.%N)
  out=$("$jrxlog" --db "$2" copy --to "$3")
  t1=$(date +%s.%N)
  python3 -c '
import re, sys
name, t0, t1, out = sys.argv[1], float(sys.argv[2]), float(sys.argv[3]), sys.argv[4]
m = re.search(r"copied (\d+) rows \(([\d.]+) s, (\d+) rows/s\)", out)
print("%-18s %8s rows: copy %6s s, %7s rows/s; whole command, verification included, %.1f s"
      % (name, m.group(1), m.group(2), m.group(3), t1 - t0))
' "$1" "$t0" "$t1" "$out"
}

copy "sqlite -> sqlite" "sqlite:$work/source.db" "sqlite:$work/copy.db"
if [ -n "${JRX_TEST_MARIADB_URL:-}" ]; then
  base=${JRX_TEST_MARIADB_URL%%\?*}
  query=${JRX_TEST_MARIADB_URL#*\?}
  base=${base%/*}
  socket=${query#*socket=}
  socket=${socket%%&*}
  drop() { echo "DROP DATABASE IF EXISTS jrx_copy_rate" | mariadb --no-defaults -uroot --socket="$socket"; }
  drop
  copy "sqlite -> mariadb" "sqlite:$work/source.db" "$base/jrx_copy_rate?$query"
  copy "mariadb -> sqlite" "$base/jrx_copy_rate?$query" "sqlite:$work/back.db"
  drop
fi
