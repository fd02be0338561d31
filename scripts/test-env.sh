#!/usr/bin/env bash
# Shared test environment for a whole test run: one Xvfb and one persistent
# wineserver, so that each test process starts fast.
#
#   source scripts/test-env.sh; vellumo_env_start; ...; vellumo_env_stop
HERE_TESTENV="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$HERE_TESTENV/wine-env.sh"

VELLUMO_XVFB_PID=""
vellumo_env_start() {
  vellumo_wine_prefix_ready
  if [ -z "${DISPLAY:-}" ]; then
    local n
    for n in $(seq 90 140); do
      [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
      Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 </dev/null &
      VELLUMO_XVFB_PID=$!
      local i
      for i in $(seq 1 50); do
        [ -e "/tmp/.X11-unix/X$n" ] && break
        sleep 0.1
      done
      if kill -0 "$VELLUMO_XVFB_PID" 2>/dev/null; then
        export DISPLAY=":$n"
        break
      fi
      VELLUMO_XVFB_PID=""
    done
    [ -n "${DISPLAY:-}" ] || { echo "test-env: could not start Xvfb" >&2; return 1; }
  fi
  # A persistent wineserver (-p) stays up between test processes. It runs in
  # the foreground as a child of this shell, its output kept beside the
  # prefix and core dumps on, so that a server that dies during the run is
  # seen and said (vellumo_env_check) instead of leaving tests waiting.
  VELLUMO_SERVER_PID="" VELLUMO_SERVER_LOG="$WINEPREFIX.wineserver.log"
  if ! "$VELLUMO_WINESERVER" -k0 2>/dev/null; then
    ( ulimit -c unlimited 2>/dev/null; exec "$VELLUMO_WINESERVER" -f -p ) >"$VELLUMO_SERVER_LOG" 2>&1 </dev/null &
    VELLUMO_SERVER_PID=$!
    local i
    for i in $(seq 1 50); do
      "$VELLUMO_WINESERVER" -k0 2>/dev/null && break
      sleep 0.1
    done
  fi
  # Wine's system processes (services, explorer, winedevice) start with the
  # first Windows process and inherit its output; a test runner would wait on
  # them. Start them here, with their output elsewhere, and keep them up with
  # an idle cmd.exe that reads a pipe nobody writes to.
  VELLUMO_KEEPALIVE_FIFO="$(mktemp -u /tmp/vellumo-keepalive.XXXXXX)"
  mkfifo "$VELLUMO_KEEPALIVE_FIFO"
  "$VELLUMO_WINE" cmd.exe <>"$VELLUMO_KEEPALIVE_FIFO" >/dev/null 2>&1 &
  VELLUMO_KEEPALIVE_PID=$!
  "$VELLUMO_WINE" cmd.exe /c exit >/dev/null 2>&1 </dev/null || true
}

# Fails, saying why, when the run's wineserver has ended before its time.
vellumo_env_check() {
  [ -z "${VELLUMO_SERVER_PID:-}" ] || kill -0 "$VELLUMO_SERVER_PID" 2>/dev/null && return 0
  local status=0
  wait "$VELLUMO_SERVER_PID" || status=$?
  echo "test-env: the wineserver of $WINEPREFIX ended during the run (status $status)" >&2
  cat "$VELLUMO_SERVER_LOG" >&2
  ls /tmp/"$(cat "$WINEPREFIX/wineserver" 2>/dev/null)"/server-*/core 2>/dev/null | sed 's/^/test-env: its core: /' >&2
  VELLUMO_SERVER_PID=""
  return 1
}

vellumo_env_stop() {
  "$VELLUMO_WINESERVER" -k >/dev/null 2>&1 || true
  if [ -n "${VELLUMO_KEEPALIVE_PID:-}" ]; then
    kill "$VELLUMO_KEEPALIVE_PID" 2>/dev/null || true
    wait "$VELLUMO_KEEPALIVE_PID" 2>/dev/null || true
    rm -f "$VELLUMO_KEEPALIVE_FIFO"
    VELLUMO_KEEPALIVE_PID=""
  fi
  "$VELLUMO_WINESERVER" -w >/dev/null 2>&1 || true
  [ -z "${VELLUMO_SERVER_PID:-}" ] || wait "$VELLUMO_SERVER_PID" 2>/dev/null || true
  VELLUMO_SERVER_PID=""
  if [ -n "$VELLUMO_XVFB_PID" ]; then
    kill "$VELLUMO_XVFB_PID" 2>/dev/null || true
    wait "$VELLUMO_XVFB_PID" 2>/dev/null || true
    VELLUMO_XVFB_PID=""
    unset DISPLAY
  fi
}
