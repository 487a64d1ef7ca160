# Sourced by test.sh, demo.sh and the benchmarks: a throw-away wine prefix, a
# private Xvfb and a persistent wineserver, all stopped again by vnk_wine_stop.
# Two kinds of prefix: win64 (the win64 build, under wine64) and win32 (the
# shipped 32-bit build, under Debian's 32-bit wine, a pure 32-bit Windows).

# True when this machine's kernel runs 32-bit programs and 32-bit wine is installed.
vnk_wine32_available() {
  [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1
}

# What every wine process of the project runs with: no debug output, no Mono or
# Gecko installer, and loopback servers only (any proxy of the caller is kept
# away from wininet).
vnk_wine_settings() {
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY no_proxy NO_PROXY all_proxy ALL_PROXY
}

# Picks the loader for an architecture and points every wine command of this
# shell at the prefix: vnk_wine_use win64|win32 PREFIX
vnk_wine_use() {
  case "$1" in
    win64) VNK_WINE=/usr/lib/wine/wine64 ;;
    win32) VNK_WINE=/usr/lib/wine/wine ;;
    *) echo "vnk_wine_use: unknown architecture $1" >&2; return 1 ;;
  esac
  # One server program serves both kinds of prefix.
  VNK_WINESERVER=/usr/lib/wine/wineserver64
  [ -x "$VNK_WINESERVER" ] || VNK_WINESERVER=/usr/lib/wine/wineserver32
  export VNK_WINE VNK_WINESERVER WINESERVER="$VNK_WINESERVER"
  export WINEPREFIX="$2" WINEARCH="$1"
  vnk_wine_settings
}

# Makes the prefix once: no crash dialogs, the wine fonts, a CJK font standing
# in for the Chinese faces the program asks for, and unmanaged windows (with no
# window manager on Xvfb, wine would wait 2 s for one whenever a window hides).
# vnk_wine_prefix PREFIX [win64|win32]
vnk_wine_prefix() {
  vnk_wine_use "${2:-win64}" "$1" || return 1
  [ -f "$1/.vnk-ready-3" ] && return 0
  rm -rf "$1"; mkdir -p "$1"
  "$VNK_WINE" wineboot -i >/dev/null 2>&1
  "$VNK_WINESERVER" -w
  # The user folders (Desktop...) point into $HOME; make them the prefix's own,
  # so that tests never touch the caller's files.
  local link
  for link in "$1"/drive_c/users/*/*; do
    if [ -L "$link" ]; then rm "$link"; mkdir "$link"; fi
  done
  cp /usr/share/wine/fonts/*.ttf "$1/drive_c/windows/Fonts/" 2>/dev/null || true
  local reg="$1/vnk-setup.reg"
  python3 - "$reg" <<'PY'
import sys
text = """Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]
"ShowCrashDialog"=dword:00000000

[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]
"Managed"="N"

[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]
"微软雅黑"="WenQuanYi Micro Hei"
"Microsoft YaHei"="WenQuanYi Micro Hei"
"宋体"="WenQuanYi Micro Hei"
"SimSun"="WenQuanYi Micro Hei"
"""
open(sys.argv[1], "wb").write(b"\xff\xfe" + text.replace("\n", "\r\n").encode("utf-16-le"))
PY
  "$VNK_WINE" regedit /S "Z:${reg//\//\\}" >/dev/null 2>&1
  "$VNK_WINESERVER" -w
  touch "$1/.vnk-ready-3"
}

vnk_xvfb_start() {
  local n
  for n in $(seq 90 140); do
    [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    VNK_XVFB_PID=$!
    sleep 0.5
    if kill -0 "$VNK_XVFB_PID" 2>/dev/null; then
      export DISPLAY=":$n"
      return 0
    fi
  done
  echo "no free X display for Xvfb" >&2
  return 1
}

# A persistent server makes each wine process start in a fraction of a second.
vnk_wineserver_start() {
  # (fails harmlessly when a server for this prefix is already up)
  "$VNK_WINESERVER" -p 2>/dev/null || true
  "$VNK_WINE" cmd /c exit >/dev/null 2>&1 || true
}

# Stops the wineserver of the current prefix (the Xvfb keeps running).
vnk_wineserver_stop() {
  [ -n "${WINEPREFIX:-}" ] && "$VNK_WINESERVER" -k 2>/dev/null || true
  return 0
}

vnk_wine_stop() {
  vnk_wineserver_stop
  [ -n "${VNK_XVFB_PID:-}" ] && kill "$VNK_XVFB_PID" 2>/dev/null || true
  VNK_XVFB_PID=
  return 0
}
