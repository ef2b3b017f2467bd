#!/bin/bash
# A throwaway PostgreSQL cluster for the extension's tests, started and
# stopped by ctest fixtures:
#
#   pg_cluster.sh start STATE BUILD_DIR BINDIR SHAREDIR PKGLIBDIR
#   pg_cluster.sh stop STATE
#
# start installs the extension (cmake --install, component postgresql) into a
# scratch copy of the server's installation in a temporary folder, so that
# CREATE EXTENSION finds it without touching the system's; runs initdb there
# (as the postgres user when run as root, through runuser) and starts the
# server on a Unix socket in that folder with a free port. STATE gets
# PGHOST, PGPORT and PGUSER for psql. stop stops the server and removes the
# folder, whatever the tests did.
set -euo pipefail

as_owner() {
  if [ "$(id -u)" = 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}

start() {
  local state=$1 build=$2 bindir=$3 sharedir=$4 pkglibdir=$5
  [ -f "$state" ] && stop "$state"
  local root
  root=$(mktemp -d "${TMPDIR:-/tmp}/molstamp-pg.XXXXXX")
  chmod 755 "$root"
  printf 'ROOT=%q\n' "$root" > "$state"
  # The server finds its share and lib folders from where its program lies.
  mkdir -p "$root$bindir" "$root$sharedir/extension" "$root$pkglibdir"
  cp "$bindir/postgres" "$bindir/initdb" "$bindir/pg_ctl" "$root$bindir/"
  local entry
  for entry in "$sharedir"/*; do
    [ "$(basename "$entry")" = extension ] || ln -s "$entry" "$root$sharedir/"
  done
  for entry in "$sharedir"/extension/* "$pkglibdir"/*; do
    ln -s "$entry" "$root$(dirname "$entry")/"
  done
  rm -f "$root$sharedir/extension"/molstamp[.-]* "$root$pkglibdir/molstamp.so"
  DESTDIR=$root cmake --install "$build" --component postgresql > "$root/install.log"
  local port
  port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  mkdir "$root/data"
  if [ "$(id -u)" = 0 ]; then chown -R postgres: "$root"; fi
  if ! as_owner "$root$bindir/initdb" -D "$root/data" -U postgres -A trust -E UTF8 --locale=C \
      --no-sync > "$root/initdb.log" 2>&1; then
    cat "$root/initdb.log" >&2
    return 1
  fi
  if ! as_owner "$root$bindir/pg_ctl" -D "$root/data" -l "$root/server.log" -w -t 60 \
      -o "-k $root -p $port -c listen_addresses= -c fsync=off" start > /dev/null; then
    cat "$root/server.log" >&2
    return 1
  fi
  printf 'PGHOST=%q\nPGPORT=%q\nPGUSER=postgres\nPG_CTL=%q\n' "$root" "$port" \
    "$root$bindir/pg_ctl" >> "$state"
  echo "postgresql: a cluster at $root, port $port"
}

stop() {
  local state=$1
  [ -f "$state" ] || return 0
  local ROOT="" PG_CTL=""
  # shellcheck disable=SC1090
  . "$state"
  if [ -n "$PG_CTL" ] && [ -f "$ROOT/data/postmaster.pid" ]; then
    as_owner "$PG_CTL" -D "$ROOT/data" -m immediate -w stop > /dev/null || true
  fi
  if [ -n "$ROOT" ]; then rm -rf "$ROOT"; fi
  rm -f "$state"
}

case ${1:-} in
  start) shift; start "$@" ;;
  stop) shift; stop "$@" ;;
  *) echo "usage: pg_cluster.sh start STATE BUILD BINDIR SHAREDIR PKGLIBDIR | stop STATE" >&2; exit 2 ;;
esac
