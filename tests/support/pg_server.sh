#!/usr/bin/env bash
# A PostgreSQL server of a test's own: a cluster made by initdb in DIR, listening on
# 127.0.0.1:PORT only (its socket in DIR), with trust for the user "morlane". The server
# refuses to run as root, so under root (as CI runs) it runs as "nobody".
#   pg_server.sh start DIR PORT   exit 0 once it accepts connections
#   pg_server.sh stop DIR         a fast shutdown
#   pg_server.sh pause DIR        every process of the server stopped where it stands: the
#                                 system still takes connections and acknowledges packets,
#                                 and no one answers (a frozen host)
#   pg_server.sh resume DIR       and on again
# exit 77 when no PostgreSQL server is installed
set -euo pipefail

bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1 || true)
if [[ -z $bin || ! -x $bin/initdb ]]; then
  echo "pg_server: no PostgreSQL server installed (Debian: postgresql)" >&2
  exit 77
fi

command=$1
dir=$2
as_server=()
if [[ $(id -u) -eq 0 ]]; then
  as_server=(runuser -u nobody --)
fi

case $command in
  start)
    port=$3
    mkdir -p "$dir"
    if [[ $(id -u) -eq 0 ]]; then
      # nobody must reach the folder through the test's own temporary folder.
      chmod a+x "$(dirname "$dir")"
      chown nobody:nogroup "$dir"
    fi
    if [[ ! -d $dir/data ]]; then
      "${as_server[@]}" "$bin/initdb" -D "$dir/data" -U morlane --auth=trust -E UTF8 \
        --no-sync >"$dir/initdb.log" 2>&1
    fi
    "${as_server[@]}" "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 30 \
      -o "-c listen_addresses=127.0.0.1 -p $port -c unix_socket_directories=$dir -c fsync=off" \
      start >/dev/null
    ;;
  stop)
    "${as_server[@]}" "$bin/pg_ctl" -D "$dir/data" -m fast -w -t 30 stop >/dev/null
    ;;
  pause | resume)
    signal=STOP
    [[ $command == resume ]] && signal=CONT
    main=$(head -n 1 "$dir/data/postmaster.pid")
    # The server's own processes first, so that none is started while the rest stop.
    kill -s "$signal" "$main"
    pkill -"$signal" -P "$main" || true
    ;;
  *)
    echo "pg_server: start DIR PORT | stop DIR | pause DIR | resume DIR" >&2
    exit 2
    ;;
esac
