#!/usr/bin/env bash
# start|stop the loopback test server in the background: server-ctl.sh start PORT ROOT
set -u
action=$1 port=$2 root=$3
pidfile="$root/server.pid"
here=$(cd "$(dirname "$0")" && pwd)
case "$action" in
  start)
    mkdir -p "$root"
    [ -f "$pidfile" ] && kill "$(cat "$pidfile")" 2>/dev/null
    rm -f "$root/requests.log"
    setsid python3 "$here/http_server.py" --port "$port" --root "$root" --pidfile "$pidfile" \
      </dev/null >"$root/server.out" 2>&1 &
    for _ in $(seq 100); do
      python3 -c "import socket,sys; s=socket.socket(); sys.exit(s.connect_ex(('127.0.0.1',$port)))" && exit 0
      sleep 0.1
    done
    echo "test server did not start on port $port:" >&2; cat "$root/server.out" >&2; exit 1 ;;
  stop)
    [ -f "$pidfile" ] && kill "$(cat "$pidfile")" 2>/dev/null
    rm -f "$pidfile"; exit 0 ;;
esac
