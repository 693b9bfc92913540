#!/usr/bin/env bash
# The rate of `jrxlog import` of progress records into an empty log and into a log that
# already holds many operations of the same node, on SQLite and (when JRX_TEST_MARIADB_URL
# names a server) on MariaDB, with the ratio of the two rates per database.
#   bench/import_rate.sh [RECORDS [OPERATIONS]]     defaults: 200000 records, 1000000 operations
# The big log is filled with bulk SQL; the timed part is the import alone.
set -euo pipefail
cd "$(dirname "$0")/.."
records=${1:-200000}
ops=${2:-1000000}
jrxlog=${JRXLOG:-build/release/bin/jrxlog}
work=$(mktemp -d /tmp/jrx-import-rate.XXXXXX)
trap 'rm -rf "$work"' EXIT

node=d3377d3c-a0d1-5d71-9947-f17125c357bb
vm=b9000564-fe1a-409b-b8cc-1e88b294cd1d
# Four reports per operation: started, two running with new texts, finished.
python3 - "$records" "$node" "$vm" >"$work/records.jsonl" <<'EOF'
import json, sys
n, node, vm = int(sys.argv[1]), sys.argv[2], sys.argv[3]
ref = lambda eid, t, title: {"params": {"eid": eid, "type": t, "title": title}}
print(json.dumps({"kind": "env", "eid": node, "type": "node", "title": "controller"}))
print(json.dumps({"kind": "env", "eid": vm, "type": "vm", "title": "web-1"}))
steps = [(1, 0, "starting"), (2, 30, "copying image"), (2, 70, "booting"), (3, 100, "done")]
for i in range(n):
    op, (status, progress, text) = divmod(i, 4)[0], steps[i % 4]
    print(json.dumps({"kind": "progress", "id": "imp-%d" % op, "name": "server.create",
                      "status": status, "progress": progress, "time": 1701000000 + i,
                      "operands": [vm], "eid": node,
                      "info": {"text": text, "params": {"source_env": ref(node, "node", "controller")}}}))
EOF
# One report that creates the node's environment rows the bulk operations link to.
head -3 "$work/records.jsonl" | sed 's/"imp-0"/"seed-0"/' >"$work/seed.jsonl"

# op_log, op_log_env and op_log_data rows of OPERATIONS finished operations of the node, by SQL
# that both databases run (`seq` is a table of the numbers 1..OPERATIONS).
bulk_sql() {
  cat <<EOF
INSERT INTO op_log (op_id, op, id, parent_id, time, status, session_id)
  SELECT 1000 + seq, 'server.list', CONCAT('bulk-', seq), '', 1600000000 + seq, 3, '' FROM seq;
INSERT INTO op_log_env (op_id, env_id, role, is_default)
  SELECT 1000 + seq, (SELECT id FROM env_log WHERE title = 'controller'), 'S', 'N' FROM seq;
INSERT INTO op_log_env (op_id, env_id, role, is_default)
  SELECT 1000 + seq, (SELECT id FROM env_log WHERE title = 'controller'), 'P', 'N' FROM seq;
INSERT INTO op_log_env (op_id, env_id, role, is_default)
  SELECT 1000 + seq, (SELECT id FROM env_log WHERE title = 'web-1'), 'O', 'N' FROM seq;
INSERT INTO op_log_data (op_id, progress, time, status, info)
  SELECT 1000 + seq, 100, 1600000000 + seq, 3, 'done' FROM seq;
EOF
}

rate() {  # URL FILL(0/1) -> records per second of the import
  local url=$1 fill=$2
  "$jrxlog" --db "$url" init >/dev/null
  "$jrxlog" --db "$url" import "$work/seed.jsonl" >/dev/null
  if [ "$fill" = 1 ]; then
    case "$url" in
      sqlite:*)
        { echo "BEGIN; CREATE TEMP TABLE seq AS WITH RECURSIVE s(seq) AS (SELECT 1 UNION ALL SELECT seq + 1 FROM s WHERE seq < $ops) SELECT seq FROM s;"
          bulk_sql | sed 's/CONCAT(\(.*\), seq)/\1 || seq/'; echo "COMMIT; ANALYZE;"; } | sqlite3 "${url#sqlite:}" ;;
      *)
        { echo "CREATE TEMPORARY TABLE seq AS SELECT seq FROM seq_1_to_$ops;"; bulk_sql
          echo "ANALYZE TABLE op_log, op_log_env, op_log_data;"; } | mariadb_client "$url" >/dev/null ;;
    esac
  fi
  local t0 t1
  t0=$(date +%s.%N)
  "$jrxlog" --db "$url" import "$work/records.jsonl" >/dev/null
  t1=$(date +%s.%N)
  python3 -c "print('%.0f' % ($records / ($t1 - $t0)))"
}

mariadb_client() {  # URL: mysql://root@localhost/DB?socket=PATH
  local url=$1 socket db
  socket=${url#*socket=}
  db=${url#mysql://*/}
  db=${db%%\?*}
  mariadb --no-defaults -uroot --socket="$socket" "$db"
}

report() {  # NAME EMPTY_URL BIG_URL
  local empty big
  empty=$(rate "$2" 0)
  big=$(rate "$3" 1)
  python3 -c "print('%-8s %d records: empty log %s/s, log of %d operations %s/s, ratio %.2f' % ('$1', $records, $empty, $ops, $big, $empty / $big))"
}

report sqlite "sqlite:$work/empty.db" "sqlite:$work/big.db"
if [ -n "${JRX_TEST_MARIADB_URL:-}" ]; then
  base=${JRX_TEST_MARIADB_URL%%\?*}
  query=${JRX_TEST_MARIADB_URL#*\?}
  base=${base%/*}
  for db in jrx_import_empty jrx_import_big; do
    echo "DROP DATABASE IF EXISTS $db" | mariadb_client "$base/mysql?$query"
  done
  report mariadb "$base/jrx_import_empty?$query" "$base/jrx_import_big?$query"
  for db in jrx_import_empty jrx_import_big; do
    echo "DROP DATABASE IF EXISTS $db" | mariadb_client "$base/mysql?$query"
  done
fi
