#!/usr/bin/env bash
# A log that lives for months: DAYS simulated days of an agent's work, each followed by the
# daily upkeep `jrxlog compact ops --age <7 days> --no-sweep` and `jrxlog compact events
# --keep <7 days' worth>`, whose sweep takes what both left, on SQLite and (when
# JRX_TEST_MARIADB_URL names a server) on MariaDB. Prints the space the log's rows take at days 7, 14, 30 and the last, and the ratio
# of the last to day 14: once a week of history is kept, the log should stay the size of a
# week (goal: at most 1.2).
#   bench/soak.sh [DAYS [COPIES [DATABASES]]]
#                                    defaults: 60 days, 10 copies of the day's template a day,
#                                    "sqlite mariadb" (the two may run at once, one each)
#   JRX_BENCH_SMALL=1                1 copy a day (about 2,000 operations, 4,000 events)
# A day is `jrxlog demo --size 2000` (closed by `jrxlog finish`, so that every operation
# ended) made once as a template and written COPIES times a day with bulk SQL: the rows as
# the services wrote them, with new keys, operation and event identifiers, times in the
# day, and new rows for the template's VMs (every day its own, so that environments come and
# go), while the nodes stay. The days lie in the past, the last ending an hour ago, so that
# the compactions, which count age from now, remove day N-7 after day N.
# Space: SQLite's pages in use ((page_count - freelist_count) * page_size), MariaDB's
# data_length + index_length of the log's tables after ANALYZE TABLE.
set -euo pipefail
cd "$(dirname "$0")/.."
small=${JRX_BENCH_SMALL:-0}
[ "$small" = 0 ] && default_copies=10 || default_copies=1
days=${1:-60}
copies=${2:-$default_copies}
databases=${3:-sqlite mariadb}
keep_days=7
jrxlog=${JRXLOG:-build/release/bin/jrxlog}
work=$(mktemp -d /tmp/jrx-soak.XXXXXX)
tpl=jrx_soak_tpl_$$   # the template: an attached file on SQLite, a database beside the log's on MariaDB
trap 'rm -rf "$work"' EXIT

"$jrxlog" --db "sqlite:$work/tpl.db" demo --size 2000 --time 1701000000 >/dev/null
"$jrxlog" --db "sqlite:$work/tpl.db" finish >/dev/null
# The closing reports carry the time of the finish; the restart belongs to the template's present.
sqlite3 "$work/tpl.db" "UPDATE op_log_data SET time = 1701000000 WHERE time > 1701000000;
  CREATE TABLE copies (c INTEGER PRIMARY KEY);
  WITH RECURSIVE s(c) AS (SELECT 0 UNION ALL SELECT c + 1 FROM s WHERE c < $copies - 1)
  INSERT INTO copies SELECT c FROM s;"
read -r ops datas events envs tmin tspan day_ops day_events <<<"$(sqlite3 -separator ' ' "$work/tpl.db" \
  "SELECT (SELECT MAX(op_id) FROM op_log), (SELECT MAX(data_id) FROM op_log_data),
          (SELECT MAX(event_id) FROM events_log), (SELECT MAX(id) FROM env_log),
          MIN(t), MAX(t) - MIN(t) + 1, (SELECT COUNT(*) FROM op_log) * $copies,
          (SELECT COUNT(*) FROM events_log) * $copies
   FROM (SELECT time AS t FROM op_log_data UNION ALL SELECT time FROM events_log)")"
echo "a day: $day_ops operations, $day_events events ($copies copies of a demo of 2000 operations); $days days, $keep_days kept"

# The day's rows, SQL for dialect $1 (sqlite, mariadb), day $2 (1-based) starting at time $3.
day_sql() {
  python3 - "$@" "$copies" "$ops" "$datas" "$events" "$envs" "$tmin" "$tspan" "$tpl" <<'EOF'
import sys
dialect, day, start, copies, ops, datas, events, envs, tmin, tspan, tpl = sys.argv[1:]
day, start, copies = int(day), int(start), int(copies)
k = "(%d + c)" % ((day - 1) * copies)          # the copy's number over the whole run
if dialect == "sqlite":
    cat = lambda *a: " || ".join(a)
    hex8 = "printf('%%08x', %s)" % k
    new_eid = "randomblob(16)"
    div = "/"
else:
    cat = lambda *a: "CONCAT(%s)" % ", ".join(a)
    hex8 = "LPAD(LOWER(HEX(%s)), 8, '0')" % k
    new_eid = "UNHEX(MD5(CONCAT(t.id, '/', %s)))" % k
    div = "DIV"
time = lambda col: "%d + (%s - %s) * 86400 %s %s" % (start, col, tmin, div, tspan)
# A VM's row is the copy's own; a node's (and the local environment's) is shared.
env = lambda col: ("CASE WHEN e.type = 'vm' THEN %s + %s * (1 + %s) ELSE %s END"
                   % (col, envs, k, col))
op = lambda col: "%s + %s * %s" % (col, k, ops)
ev = lambda col: "%s + %s * %s" % (col, k, events)
T = lambda name: "%s.%s t" % (tpl, name)
C = "%s.copies" % tpl
print(";\n".join([
    "BEGIN",
    "INSERT INTO env_log (id, eid, title, type) SELECT %s, %s, t.title, t.type FROM %s, %s "
    "WHERE t.type = 'vm'" % (env("t.id").replace("e.type", "t.type"), new_eid, T("env_log"), C),
    "INSERT INTO op_log (op_id, op, id, parent_id, time, status, session_id) "
    "SELECT %s, t.op, %s, t.parent_id, %s, t.status, t.session_id FROM %s, %s"
    % (op("t.op_id"), cat("t.id", "'-'", k), time("t.time"), T("op_log"), C),
    "INSERT INTO op_log_data (data_id, op_id, progress, time, status, info) "
    "SELECT t.data_id + %s * %s, %s, t.progress, %s, t.status, t.info FROM %s, %s"
    % (k, datas, op("t.op_id"), time("t.time"), T("op_log_data"), C),
    "INSERT INTO op_log_env (op_id, env_id, role, is_default) "
    "SELECT %s, %s, t.role, t.is_default FROM %s JOIN %s.env_log e ON e.id = t.env_id, %s"
    % (op("t.op_id"), env("t.env_id"), T("op_log_env"), tpl, C),
    "INSERT INTO op_log_task (op_id, task_id) SELECT %s, t.task_id FROM %s, %s"
    % (op("t.op_id"), T("op_log_task"), C),
    "INSERT INTO events_log (event_id, guid, code, time, category, type, sid, info_bin, info, data) "
    "SELECT %s, %s, t.code, %s, t.category, t.type, t.sid, t.info_bin, t.info, t.data FROM %s, %s"
    % (ev("t.event_id"), cat(hex8, "SUBSTR(t.guid, 9)"), time("t.time"), T("events_log"), C),
    "INSERT INTO events_log_env (event_id, env_id, role) "
    "SELECT %s, %s, t.role FROM %s JOIN %s.env_log e ON e.id = t.env_id, %s"
    % (ev("t.event_id"), env("t.env_id"), T("events_log_env"), tpl, C),
    "INSERT INTO events_log_resource (event_id, resource_id, resource_type) "
    "SELECT %s, t.resource_id, t.resource_type FROM %s, %s" % (ev("t.event_id"), T("events_log_resource"), C),
    "INSERT INTO events_log_status (event_id, old_status, old_transition, new_status, new_transition) "
    "SELECT %s, t.old_status, t.old_transition, t.new_status, t.new_transition FROM %s, %s"
    % (ev("t.event_id"), T("events_log_status"), C),
    "INSERT INTO events_log_audit (event_id, session_id, address, address_bin, detail) "
    "SELECT %s, t.session_id, t.address, t.address_bin, t.detail FROM %s, %s"
    % (ev("t.event_id"), T("events_log_audit"), C),
    "COMMIT",
]) + ";")
EOF
}

mariadb_client() {  # URL [DB]
  local socket=${1#*socket=}
  mariadb --no-defaults -uroot --socket="${socket%%&*}" "${@:2}"
}

# Bytes of the log's rows and indexes in use.
space() {  # DIALECT URL
  case "$1" in
    sqlite) sqlite3 "${2#sqlite:}" "SELECT (p.page_count - f.freelist_count) * s.page_size
              FROM pragma_page_count p, pragma_freelist_count f, pragma_page_size s" ;;
    mariadb)
      local db=${2#mysql://*/}
      db=${db%%\?*}
      mariadb_client "$2" -N "$db" -e "ANALYZE TABLE $(mariadb_client "$2" -N -e \
          "SELECT GROUP_CONCAT(table_name) FROM information_schema.tables WHERE table_schema = '$db'")" >/dev/null
      mariadb_client "$2" -N -e "SELECT SUM(data_length + index_length) FROM information_schema.tables
                                 WHERE table_schema = '$db'" ;;
  esac
}

soak() {  # DIALECT URL
  local dialect=$1 url=$2 base now age sizes="" t0 fill=0 upkeep=0 t
  "$jrxlog" --db "$url" init >/dev/null
  case "$dialect" in
    sqlite) run() { { echo "ATTACH '$work/tpl.db' AS $tpl;"; cat; } | sqlite3 "${url#sqlite:}"; } ;;
    mariadb)
      local db=${url#mysql://*/}
      db=${db%%\?*}
      run() { mariadb_client "$url" -N "$db"; } ;;
  esac
  rows() {
    local t
    for t in op_log op_log_data op_log_env op_log_task env_log events_log events_log_env \
             events_log_resource events_log_status events_log_audit; do
      echo "SELECT '$t', COUNT(*) FROM $t;"
    done | run | tr '\t|' '  ' | awk '{printf "%s%s %s", (NR > 1 ? ", " : ""), $1, $2}'
  }
  # The template's nodes (and the local environment), with their keys, shared by every day.
  echo "INSERT INTO env_log (id, eid, title, type) SELECT id, eid, title, type FROM $tpl.env_log
        WHERE type <> 'vm';" | run
  base=$(($(date +%s) - days * 86400 - 3600))
  for ((d = 1; d <= days; ++d)); do
    t0=$(date +%s.%N)
    day_sql "$dialect" "$d" $((base + (d - 1) * 86400)) | run
    t=$(date +%s.%N)
    fill=$(python3 -c "print($fill + $t - $t0)")
    # Day d ends at base + d days; what ended 7 days before goes.
    now=$(date +%s)
    age=$((now - (base + (d - keep_days) * 86400)))
    "$jrxlog" --db "$url" compact ops --age "$age" --no-sweep >/dev/null
    "$jrxlog" --db "$url" compact events --keep $((keep_days * day_events)) >/dev/null
    upkeep=$(python3 -c "print($upkeep + $(date +%s.%N) - $t)")
    case " 7 14 30 $days " in
      *" $d "*)
        local bytes
        bytes=$(space "$dialect" "$url")
        sizes="$sizes $d:$bytes"
        echo "$dialect day $d: $((bytes / 1000)) kB; rows: $(rows)" ;;
    esac
  done
  python3 - "$dialect" "$fill" "$upkeep" $sizes <<'EOF'
import sys
name, fill, upkeep = sys.argv[1], float(sys.argv[2]), float(sys.argv[3])
sizes = dict((int(d), int(b)) for d, b in (a.split(":") for a in sys.argv[4:]))
last = max(sizes)
ratio = "day%d/day14 %.2f (goal: at most 1.2)" % (last, sizes[last] / sizes[14]) if 14 in sizes and last > 14 else "no ratio before day 15"
print("%-8s %s; %s; filling %.0f s, upkeep %.0f s (%.1f s a day)"
      % (name, ", ".join("day %d %.1f MB" % (d, b / 1e6) for d, b in sorted(sizes.items())),
         ratio, fill, upkeep, upkeep / last))
EOF
}

case " $databases " in *" sqlite "*) soak sqlite "sqlite:$work/soak.db" ;; esac
if [ -n "${JRX_TEST_MARIADB_URL:-}" ] && [[ " $databases " == *" mariadb "* ]]; then
  base=${JRX_TEST_MARIADB_URL%%\?*}
  query=${JRX_TEST_MARIADB_URL#*\?}
  base=${base%/*}
  drop() { mariadb_client "$JRX_TEST_MARIADB_URL" -e "DROP DATABASE IF EXISTS jrx_soak_$$; DROP DATABASE IF EXISTS $tpl"; }
  drop
  "$jrxlog" --db "sqlite:$work/tpl.db" copy --to "$base/$tpl?$query" >/dev/null
  mariadb_client "$JRX_TEST_MARIADB_URL" "$tpl" -e "CREATE TABLE copies (c INT PRIMARY KEY);
    INSERT INTO copies SELECT seq FROM seq_0_to_$((copies - 1));"
  soak mariadb "$base/jrx_soak_$$?$query"
  drop
fi
