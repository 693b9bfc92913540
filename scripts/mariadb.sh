#!/usr/bin/env bash
# A private MariaDB server for tests and benchmarks: its own data folder, a unix socket, no
# network port. mariadb.sh start DIR | stop DIR | url DIR
set -euo pipefail
cmd=${1:?usage: mariadb.sh start|stop|url DIR}
D=${2:?usage: mariadb.sh start|stop|url DIR}
url="mysql://root@localhost/?socket=$D/mysqld.sock"
case "$cmd" in
  start)
    mkdir -p "$D"
    if [ -f "$D/mariadbd.pid" ] && kill -0 "$(cat "$D/mariadbd.pid")" 2>/dev/null; then
      echo "$url"; exit 0
    fi
    if [ ! -d "$D/data/mysql" ]; then
      mariadb-install-db --no-defaults --user=root --datadir="$D/data" \
        --auth-root-authentication-method=normal --skip-test-db >"$D/install.log" 2>&1
    fi
    /usr/sbin/mariadbd --no-defaults --user=root --datadir="$D/data" --socket="$D/mysqld.sock" \
      --skip-networking --pid-file="$D/mariadbd.pid" --log-error="$D/error.log" \
      --character-set-server=utf8mb4 --collation-server=utf8mb4_bin \
      --innodb-buffer-pool-size=512M --innodb-flush-log-at-trx-commit=2 \
      --max-connections=500 </dev/null >/dev/null 2>&1 &
    for _ in $(seq 1 300); do
      mariadb-admin --no-defaults --socket="$D/mysqld.sock" -uroot ping >/dev/null 2>&1 && break
      sleep 0.1
    done
    mariadb-admin --no-defaults --socket="$D/mysqld.sock" -uroot ping >/dev/null 2>&1 || {
      echo "MariaDB did not start; see $D/error.log" >&2; tail -20 "$D/error.log" >&2; exit 1; }
    echo "$url"
    ;;
  stop)
    if [ -f "$D/mariadbd.pid" ]; then
      pid=$(cat "$D/mariadbd.pid")
      kill "$pid" 2>/dev/null || true
      for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    fi
    ;;
  url) echo "$url" ;;
esac
