#!/usr/bin/env bash
# Starts or stops the private PulseAudio server of the test run: its own runtime folder,
# the native protocol only, no autospawn, a null sink as the speaker and a null sink whose
# monitor is remapped as the microphone (what is played into "vts_mic_in" is what the
# microphone hears).
# Usage: pulse-test-server.sh start <dir> | stop <dir>
# After start, <dir>/env holds the variables a client needs.
set -euo pipefail
cmd="${1:?start|stop}"
dir="${2:?runtime dir}"

case "$cmd" in
start)
  mkdir -p "$dir"
  chmod 0700 "$dir"
  export XDG_RUNTIME_DIR="$dir"
  export PULSE_RUNTIME_PATH="$dir/pulse"
  export PULSE_STATE_PATH="$dir/state"
  export HOME="${HOME:-$dir}"
  mkdir -p "$PULSE_RUNTIME_PATH" "$PULSE_STATE_PATH"
  chmod 0700 "$PULSE_RUNTIME_PATH"
  cat > "$dir/client.conf" <<CONF
autospawn = no
CONF
  export PULSE_CLIENTCONFIG="$dir/client.conf"
  if [ -S "$PULSE_RUNTIME_PATH/native" ] && pactl -s "unix:$PULSE_RUNTIME_PATH/native" info >/dev/null 2>&1; then
    echo "pulse-test-server: already running"
  else
    pulseaudio -n --daemonize=yes --exit-idle-time=-1 --use-pid-file=yes \
      --system=false --disallow-exit=no --log-target=file:"$dir/pulse.log" \
      --load="module-native-protocol-unix socket=$PULSE_RUNTIME_PATH/native auth-anonymous=1" \
      --load="module-null-sink sink_name=vts_speaker sink_properties=device.description=VTS_Speaker" \
      --load="module-null-sink sink_name=vts_mic_in sink_properties=device.description=VTS_Mic_Feed" \
      --load="module-remap-source source_name=vts_mic master=vts_mic_in.monitor source_properties=device.description=VTS_Microphone" \
      >"$dir/start.log" 2>&1 || { cat "$dir/start.log" "$dir/pulse.log" 2>/dev/null >&2; exit 1; }
    for _ in $(seq 1 100); do
      pactl -s "unix:$PULSE_RUNTIME_PATH/native" info >/dev/null 2>&1 && break
      sleep 0.1
    done
  fi
  server="unix:$PULSE_RUNTIME_PATH/native"
  pactl -s "$server" info >/dev/null
  pactl -s "$server" set-default-sink vts_speaker
  pactl -s "$server" set-default-source vts_mic
  # The first record stream after a fresh start delivers silence: open one and drop it.
  timeout 1 parec -s "$server" -d vts_mic >/dev/null 2>&1 || true
  cat > "$dir/env" <<ENV
export PULSE_SERVER=$server
export PULSE_CLIENTCONFIG=$dir/client.conf
export PULSE_RUNTIME_PATH=$PULSE_RUNTIME_PATH
export VTS_PULSE_TEST_SERVER=$server
ENV
  echo "pulse-test-server: running at $server"
  ;;
stop)
  # A server that is gone, or a zombie nobody reaped yet, counts as stopped.
  alive() { [ -n "$1" ] && [ -d "/proc/$1" ] && ! grep -q '^State:[[:space:]]*Z' "/proc/$1/status" 2>/dev/null; }
  wait_gone() { for _ in $(seq 1 "$2"); do alive "$1" || return 0; sleep 0.1; done; ! alive "$1"; }
  pid=""
  [ -f "$dir/pulse/pid" ] && pid="$(cat "$dir/pulse/pid" 2>/dev/null || true)"
  if [ -f "$dir/env" ]; then
    # shellcheck disable=SC1091
    . "$dir/env"
    pactl -s "$PULSE_SERVER" exit >/dev/null 2>&1 || true
  fi
  if [ -n "$pid" ] && ! wait_gone "$pid" 50; then
    kill -TERM "$pid" 2>/dev/null || true
    wait_gone "$pid" 20 || kill -KILL "$pid" 2>/dev/null || true
  fi
  ;;
esac
