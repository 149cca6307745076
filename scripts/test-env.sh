# Sourced by ./test and ./run: a private Wine prefix, a virtual X display and one persistent
# wineserver, so that each Windows test program starts in about 50 ms instead of seconds.
#   pellwick_env_start   sets WINEPREFIX, DISPLAY, WINEDEBUG, WINEDLLOVERRIDES and starts them;
#                        with --use-display and DISPLAY set, the programs show on that display
#                        instead, where a person can use them; with PELLWICK_DPI set, at that
#                        screen DPI
#   pellwick_env_stop    ends what pellwick_env_start started (by process id), removes the prefix

# The folder of this script, for the keeper's source, wherever the caller goes meanwhile.
PELLWICK_ENV_SCRIPTS=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

pellwick_env_start() {
  PELLWICK_ENV_DIR=$(mktemp -d /tmp/pellwick-env.XXXXXX)
  export WINEPREFIX="$PELLWICK_ENV_DIR/prefix"
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  export WINEARCH=win64

  local i
  PELLWICK_XVFB_PID=
  if [ "${1:-}" != --use-display ] || [ -z "${DISPLAY:-}" ]; then
    # Xvfb picks a free display number itself and reports it on the descriptor we pass.
    Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp >"$PELLWICK_ENV_DIR/display" 2>"$PELLWICK_ENV_DIR/xvfb.log" &
    PELLWICK_XVFB_PID=$!
    for i in $(seq 1 100); do
      [ -s "$PELLWICK_ENV_DIR/display" ] && break
      sleep 0.1
    done
    export DISPLAY=":$(head -n 1 "$PELLWICK_ENV_DIR/display")"
  fi

  # The prefix is made first; then one persistent wineserver and a plain boot start the
  # services once. (Booting the fresh prefix under the persistent server left two service
  # managers behind, and every program that needed RPC then waited seconds for it.)
  wineboot -i >"$PELLWICK_ENV_DIR/wineboot.log" 2>&1
  # One shared desktop named "shell" gives every program of the prefix a taskbar with a
  # notification area, and lets one program find another's windows.
  wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d shell /f >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v shell /d 1024x768 /f >/dev/null 2>&1
  # PELLWICK_DPI (e.g. 144 for 150% scaling) sets the screen's DPI before the desktop starts.
  if [ -n "${PELLWICK_DPI:-}" ]; then
    wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$PELLWICK_DPI" /f >/dev/null 2>&1
  fi
  wineserver -k >/dev/null 2>&1
  wineserver -w >/dev/null 2>&1
  wineserver -p >/dev/null 2>&1 &
  wineboot >>"$PELLWICK_ENV_DIR/wineboot.log" 2>&1
  # The desktop stays up for the whole run: otherwise each test program starts it anew and
  # waits for it. Wine closes a desktop a second after the last program on it ends, and the
  # desktop process that the next program then starts inherits that program's standard error:
  # ctest waits for the end of that output, so the test that started the desktop seemed to
  # run until the tests after it let the desktop close, often past its time-out. A keeper
  # program joins the desktop (which brings it up) and stays on it until the stop.
  PELLWICK_KEEPER_PID=
  if x86_64-w64-mingw32-gcc-posix -O2 -static -o "$PELLWICK_ENV_DIR/desktop_keeper.exe" \
      "$PELLWICK_ENV_SCRIPTS/wine_desktop_keeper.c" >"$PELLWICK_ENV_DIR/desktop.log" 2>&1; then
    wine "$PELLWICK_ENV_DIR/desktop_keeper.exe" >>"$PELLWICK_ENV_DIR/desktop.log" 2>&1 &
    PELLWICK_KEEPER_PID=$!
    for i in $(seq 1 100); do
      grep -q '^desktop joined' "$PELLWICK_ENV_DIR/desktop.log" && break
      sleep 0.1
    done
  fi
  grep -q '^desktop joined' "$PELLWICK_ENV_DIR/desktop.log" ||
    echo "test-env: no program holds the desktop (see $PELLWICK_ENV_DIR/desktop.log)" >&2
  export PELLWICK_ENV_DIR PELLWICK_XVFB_PID PELLWICK_KEEPER_PID
}

pellwick_env_stop() {
  [ -n "${PELLWICK_ENV_DIR:-}" ] || return 0
  wineserver -k >/dev/null 2>&1 || true
  # The server runs detached from the process that started it: this waits for the server
  # itself, which saves the registry into the prefix as it ends.
  timeout 10 wineserver -w >/dev/null 2>&1 || true
  [ -z "${PELLWICK_KEEPER_PID:-}" ] || wait "$PELLWICK_KEEPER_PID" 2>/dev/null || true
  if [ -n "$PELLWICK_XVFB_PID" ]; then
    kill "$PELLWICK_XVFB_PID" 2>/dev/null || true
    wait "$PELLWICK_XVFB_PID" 2>/dev/null || true
  fi
  rm -rf "$PELLWICK_ENV_DIR"
  unset PELLWICK_ENV_DIR
}
