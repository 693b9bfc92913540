#!/usr/bin/env bash
# A private MariaDB server for tests and benchmarks: its own data folder and unix socket, and
# a TCP port on 127.0.0.1 only that offers TLS with a CA and certificate made for it (when
# openssl is there); beside it an empty server without TLS, to be refused by clients that
# require TLS.  mariadb.sh start DIR | stop DIR | url DIR | tls DIR
#   start: starts both (if not running) and prints the URL of the first over its socket
#   tls:   prints the shell assignments of JRX_TEST_MARIADB_TLS_URL (the TLS port, for a
#          database name to be appended), JRX_TEST_MARIADB_TLS_CA (the CA that signed the
#          server's certificate, which names 127.0.0.1 and localhost; other-ca.pem beside it
#          signed nothing of it; client-cert.pem and client-key.pem beside it are a client's,
#          which that CA signed) and JRX_TEST_MARIADB_PLAIN_URL (the server without TLS)
set -euo pipefail
cmd=${1:?usage: mariadb.sh start|stop|url|tls DIR}
D=${2:?usage: mariadb.sh start|stop|url|tls DIR}
url="mysql://root@localhost/?socket=$D/mysqld.sock"

# A port nobody listens on at 127.0.0.1 (the server's start fails if one takes it meanwhile).
free_port() {
  local p
  for _ in $(seq 1 100); do
    p=$((20000 + RANDOM % 40000))
    (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null || { echo "$p"; return 0; }
  done
  return 1
}

# A CA, a server certificate it signs for this host's loopback names, and a second CA.
make_tls() {
  local t=$D/tls
  [ -s "$t/server-cert.pem" ] && return 0
  mkdir -p "$t"
  openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj "/CN=jrx test CA" \
    -keyout "$t/ca-key.pem" -out "$t/ca.pem" 2>/dev/null
  openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj "/CN=jrx other CA" \
    -keyout "$t/other-ca-key.pem" -out "$t/other-ca.pem" 2>/dev/null
  openssl req -newkey rsa:2048 -nodes -subj "/CN=localhost" \
    -keyout "$t/server-key.pem" -out "$t/server.csr" 2>/dev/null
  printf 'subjectAltName=DNS:localhost,IP:127.0.0.1\nbasicConstraints=CA:FALSE\n' >"$t/server.ext"
  openssl x509 -req -in "$t/server.csr" -CA "$t/ca.pem" -CAkey "$t/ca-key.pem" \
    -CAcreateserial -days 30 -extfile "$t/server.ext" -out "$t/server-cert.pem" 2>/dev/null
}

# A client certificate of the same CA, for accounts that require one; made apart, so that a
# server started before it was needed gets it too.
make_client_cert() {
  local t=$D/tls
  [ -s "$t/client-cert.pem" ] && return 0
  openssl req -newkey rsa:2048 -nodes -subj "/CN=jrx test client" \
    -keyout "$t/client-key.pem" -out "$t/client.csr" 2>/dev/null
  openssl x509 -req -in "$t/client.csr" -CA "$t/ca.pem" -CAkey "$t/ca-key.pem" \
    -CAcreateserial -days 30 -out "$t/client-cert.pem" 2>/dev/null
}

running() { [ -f "$1/mariadbd.pid" ] && kill -0 "$(cat "$1/mariadbd.pid")" 2>/dev/null; }

await() {  # DIR: until the server of DIR answers on its socket
  for _ in $(seq 1 300); do
    mariadb-admin --no-defaults --socket="$1/mysqld.sock" -uroot ping >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  echo "MariaDB did not start; see $1/error.log" >&2; tail -20 "$1/error.log" >&2; return 1
}

stop_server() {
  if [ -f "$1/mariadbd.pid" ]; then
    local pid
    pid=$(cat "$1/mariadbd.pid")
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  fi
}

case "$cmd" in
  start)
    mkdir -p "$D/plain/data"
    if ! running "$D"; then
      if [ ! -d "$D/data/mysql" ]; then
        mariadb-install-db --no-defaults --user=root --datadir="$D/data" \
          --auth-root-authentication-method=normal --skip-test-db >"$D/install.log" 2>&1
      fi
      network=(--skip-networking)
      if command -v openssl >/dev/null && make_tls; then
        port=$(free_port)
        echo "$port" >"$D/port"
        network=(--bind-address=127.0.0.1 --port="$port" --ssl-ca="$D/tls/ca.pem"
                 --ssl-cert="$D/tls/server-cert.pem" --ssl-key="$D/tls/server-key.pem")
      fi
      /usr/sbin/mariadbd --no-defaults --user=root --datadir="$D/data" --socket="$D/mysqld.sock" \
        "${network[@]}" --pid-file="$D/mariadbd.pid" --log-error="$D/error.log" \
        --character-set-server=utf8mb4 --collation-server=utf8mb4_bin \
        --innodb-buffer-pool-size=512M --innodb-flush-log-at-trx-commit=2 \
        --max-connections=500 </dev/null >/dev/null 2>&1 &
    fi
    # Nothing in it, and no accounts: it only has to answer a client's first packet.
    if [ -s "$D/port" ] && ! running "$D/plain"; then
      port=$(free_port)
      echo "$port" >"$D/plain/port"
      /usr/sbin/mariadbd --no-defaults --user=root --datadir="$D/plain/data" \
        --socket="$D/plain/mysqld.sock" --bind-address=127.0.0.1 --port="$port" --skip-ssl \
        --skip-grant-tables --innodb-buffer-pool-size=8M --pid-file="$D/plain/mariadbd.pid" \
        --log-error="$D/plain/error.log" </dev/null >/dev/null 2>&1 &
    fi
    await "$D"
    [ ! -s "$D/port" ] || await "$D/plain"
    echo "$url"
    ;;
  stop)
    stop_server "$D/plain"
    stop_server "$D"
    ;;
  url) echo "$url" ;;
  tls)
    if [ -s "$D/port" ]; then
      make_client_cert
      printf 'export JRX_TEST_MARIADB_TLS_URL=%q\n' "mysql://root@127.0.0.1:$(cat "$D/port")/"
      printf 'export JRX_TEST_MARIADB_TLS_CA=%q\n' "$D/tls/ca.pem"
      printf 'export JRX_TEST_MARIADB_PLAIN_URL=%q\n' "mysql://root@127.0.0.1:$(cat "$D/plain/port")/"
    fi
    ;;
esac
