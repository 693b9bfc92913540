#!/usr/bin/env bash
# A private multi-primary cluster of N MariaDB nodes on this machine, for tests and benchmarks:
# each node has its own data folder DIR/nK, a unix socket for clients, and loopback ports for
# replication, incremental and full state transfer. Node 1 bootstraps the cluster; the others
# join it one after another and receive their state from a synced node by mariabackup (the
# rsync method cannot run as root). Prints one client URL per node, node 1 first.
#   galera.sh start DIR N | stop DIR | urls DIR
#
# Timing on a busy 2-core machine: node 1 is up in ~5 s; the joiners start together and take
# their full state transfers in turn, ~12 s each (the donor pauses 10 s before streaming), so
# a first 3-node start takes ~30-35 s. Starting a stopped cluster again from its folders takes
# ~10 s (the joiners catch up incrementally); stop takes ~5 s.
set -euo pipefail
usage="usage: galera.sh start DIR N | stop DIR | urls DIR"
cmd=${1:?$usage}
D=${2:?$usage}
provider=${JRX_GALERA_PROVIDER:-/usr/lib/galera/libgalera_smm.so}
[ -f "$provider" ] || provider=/usr/lib/libgalera_smm.so

url() { echo "mysql://root@localhost/?socket=$D/n$1/mysqld.sock"; }
admin() { mariadb --no-defaults --socket="$D/n$1/mysqld.sock" -uroot -N -B "${@:2}"; }
alive() { [ -f "$D/n$1/launched.pid" ] && kill -0 "$(cat "$D/n$1/launched.pid")" 2>/dev/null; }
synced() {
  [ "$(admin "$1" -e "SHOW STATUS LIKE 'wsrep_local_state_comment'" 2>/dev/null | cut -f2)" = Synced ]
}
listening() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

# Four loopback ports per node from a base no one listens on: replication, incremental state
# transfer, full state transfer, and clients over TCP (besides the socket).
pick_base() {
  local n=$1 base p ok
  for _ in $(seq 1 50); do
    base=$((20000 + (RANDOM % 2000) * 10))
    ok=1
    for p in $(seq "$base" $((base + 4 * n - 1))); do
      if listening "$p"; then ok=0; break; fi
    done
    [ $ok = 1 ] && { echo "$base"; return; }
  done
  echo "no free loopback ports" >&2; exit 1
}

start_node() {
  local k=$1 n=$2 base=$3 new=$4
  local dir="$D/n$k" p=$((base + 4 * (k - 1))) peers="" j
  for j in $(seq 1 "$n"); do peers+="${peers:+,}127.0.0.1:$((base + 4 * (j - 1)))"; done
  mkdir -p "$dir/data"
  # Joining nodes receive everything by state transfer; only the first needs system tables.
  if [ "$k" = 1 ] && [ ! -d "$dir/data/mysql" ]; then
    mariadb-install-db --no-defaults --user=root --datadir="$dir/data" \
      --auth-root-authentication-method=normal --skip-test-db >"$dir/install.log" 2>&1
  fi
  # Generous failure-detection timeouts: on a busy shared machine a node that is merely slow
  # must not be evicted from the cluster.
  /usr/sbin/mariadbd --no-defaults --user=root --datadir="$dir/data" \
    --socket="$dir/mysqld.sock" --skip-networking=0 --bind-address=127.0.0.1 \
    --port=$((p + 3)) --pid-file="$dir/mariadbd.pid" --log-error="$dir/error.log" \
    --character-set-server=utf8mb4 --collation-server=utf8mb4_bin \
    --innodb-flush-log-at-trx-commit=2 \
    --max-connections=300 --binlog-format=ROW --default-storage-engine=InnoDB \
    --innodb-autoinc-lock-mode=2 --wsrep-sync-wait=1 \
    --wsrep-on=ON --wsrep-provider="$provider" --wsrep-cluster-name="jrx-$(basename "$D")" \
    --wsrep-cluster-address="gcomm://$peers" --wsrep-node-name="n$k" \
    --wsrep-node-address="127.0.0.1:$p" --wsrep-sst-receive-address="127.0.0.1:$((p + 2))" \
    --wsrep-provider-options="ist.recv_addr=127.0.0.1:$((p + 1));gcache.size=64M;evs.suspect_timeout=PT30S;evs.inactive_timeout=PT60S;evs.install_timeout=PT60S" \
    --wsrep-sst-method=mariabackup --wsrep-sst-auth=root: \
    $new </dev/null >/dev/null 2>&1 &
  echo $! >"$dir/launched.pid"
}

wait_synced() {
  local k=$1 pid
  pid=$(cat "$D/n$k/launched.pid")
  for _ in $(seq 1 1800); do
    synced "$k" && return 0
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.2
  done
  echo "cluster node $k did not reach Synced; see $D/n$k/error.log" >&2
  tail -20 "$D/n$k/error.log" >&2
  exit 1
}

case "$cmd" in
  start)
    n=${3:?$usage}
    mkdir -p "$D"
    # The state-transfer scripts read option files even though the server does not; this one
    # (found through MYSQL_HOME) keeps their logs in the node's data folder instead of syslog.
    printf '[sst]\nsst-syslog=-1\nsst-log-archive=0\n' >"$D/my.cnf"
    export MYSQL_HOME="$D"
    if [ -f "$D/nodes" ] && [ "$(cat "$D/nodes")" = "$n" ] && alive 1; then
      for k in $(seq 1 "$n"); do url "$k"; done; exit 0
    fi
    base=$(pick_base "$n")
    echo "$n" >"$D/nodes"
    start_node 1 "$n" "$base" --wsrep-new-cluster
    wait_synced 1
    # The joiners start together; one that finds no free donor retries until one is.
    for k in $(seq 2 "$n"); do start_node "$k" "$n" "$base" ""; done
    for k in $(seq 2 "$n"); do wait_synced "$k"; done
    for k in $(seq 1 "$n"); do url "$k"; done
    ;;
  stop)
    [ -f "$D/nodes" ] || exit 0
    # The bootstrap node last, so that the others leave a cluster that still exists.
    for k in $(seq "$(cat "$D/nodes")" -1 1); do
      alive "$k" || continue
      pid=$(cat "$D/n$k/launched.pid")
      kill "$pid" 2>/dev/null || true
      for _ in $(seq 1 300); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    done
    ;;
  urls)
    for k in $(seq 1 "$(cat "$D/nodes")"); do url "$k"; done
    ;;
  *) echo "$usage" >&2; exit 2 ;;
esac
