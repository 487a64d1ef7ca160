# Sourced by test.sh, demo.sh and the benchmarks.

# A loopback port that is free now for the tests' server: 18641 unless taken.
vnk_pick_port() {
  local port=18641
  vnk_port_free() { python3 -c "import socket,sys; s=socket.socket(); sys.exit(0 if s.connect_ex(('127.0.0.1',$1)) else 1)"; }
  tests/support/server-ctl.sh stop "$port" build/win64/test-www >/dev/null 2>&1 || true
  tests/support/server-ctl.sh stop "$port" build/win32-test/test-www >/dev/null 2>&1 || true
  if ! vnk_port_free "$port"; then
    port=$(python3 -c "import socket; s=socket.socket(); s.bind(('127.0.0.1',0)); print(s.getsockname()[1])")
  fi
  VNK_PORT=$port
}

# Configures a test preset (win64 or win32-test) with loopback server addresses
# on VNK_PORT (vnk_pick_port first).
vnk_configure_tests() {
  cmake --preset "$1" -DVNK_CONFIG_URL="http://127.0.0.1:$VNK_PORT/images/js/vy/cross/vnk_cross_repair.ini" \
    -DVNK_REPORT_HOST="127.0.0.1:$VNK_PORT" >/dev/null
}

vnk_configure_win64() {
  vnk_pick_port
  vnk_configure_tests win64
}

vnk_setup() {
  if [ "$(id -u)" = 0 ]; then bash scripts/setup.sh; else sudo bash scripts/setup.sh; fi
}
