# Sourced by test.sh and demo.sh: configures the win64 build with loopback
# server addresses on a port that is free now (18641 unless taken).
vnk_configure_win64() {
  local port=18641
  vnk_port_free() { python3 -c "import socket,sys; s=socket.socket(); sys.exit(0 if s.connect_ex(('127.0.0.1',$1)) else 1)"; }
  tests/support/server-ctl.sh stop "$port" build/win64/test-www >/dev/null 2>&1 || true
  if ! vnk_port_free "$port"; then
    port=$(python3 -c "import socket; s=socket.socket(); s.bind(('127.0.0.1',0)); print(s.getsockname()[1])")
  fi
  cmake --preset win64 -DVNK_CONFIG_URL="http://127.0.0.1:$port/images/js/vy/cross/vnk_cross_repair.ini" \
    -DVNK_REPORT_HOST="127.0.0.1:$port" >/dev/null
  VNK_PORT=$port
}

vnk_setup() {
  if [ "$(id -u)" = 0 ]; then bash scripts/setup.sh; else sudo bash scripts/setup.sh; fi
}
