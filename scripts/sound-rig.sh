#!/usr/bin/env bash
# The private sound server the sound tests run against.
#
#   scripts/sound-rig.sh start DIR   start it; returns once it answers on unix:DIR/native
#   scripts/sound-rig.sh stop DIR    stop it; succeeds when nothing runs
#
# The server has a null sink "speakers", a sine source "mic" at 440 Hz and a sine source
# "line" at 880 Hz, and nothing else. Everything it writes stays inside DIR: its socket
# (DIR/native), its runtime and state folders, its pid (DIR/server.pid) and its log
# (DIR/server.log). The machine's own PulseAudio configuration is never read, so a desktop
# session's server and this one do not meet.
#
# SONARELLE_RIG_WAIT: seconds start waits for the server to answer (default 10).
set -euo pipefail

usage() {
  echo "usage: $0 start|stop DIR" >&2
  exit 2
}

[ $# -eq 2 ] || usage
action=$1
dir=$2
[ -n "$dir" ] || usage
case $action in
  start | stop) ;;
  *) usage ;;
esac

fail() {
  echo "sound-rig: $*" >&2
  exit 1
}

# The server's module arguments and the rig's own files quote DIR; keep it to plain names.
case $dir in
  *[\"\'\\\ $'\n'$'\t']*) fail "DIR must not contain spaces, quotes or backslashes: $dir" ;;
esac
if [ "$action" = stop ] && [ ! -d "$dir" ]; then
  exit 0
fi
mkdir -p "$dir"
dir=$(cd "$dir" && pwd -P)

socket=$dir/native
server=unix:$socket
pidfile=$dir/server.pid
script=$dir/rig.pa
log=$dir/server.log

# sockaddr_un holds 108 bytes including the terminating zero.
[ ${#socket} -le 107 ] || fail "socket path too long for a unix socket (${#socket} > 107): $socket"

# Whether pid is a live (not zombie) server started for this DIR.
is_our_server() {
  local pid=$1 state cmdline
  [[ $pid =~ ^[0-9]+$ ]] || return 1
  [ -r "/proc/$pid/stat" ] || return 1
  state=$(sed -e 's/^.*) //' "/proc/$pid/stat" 2>/dev/null | cut -d' ' -f1) || return 1
  [ "$state" != Z ] || return 1
  cmdline=$(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null) || return 1
  [[ $cmdline == *pulseaudio*" $script "* || $cmdline == *pulseaudio*" $script" ]]
}

# Stops the server of this DIR, if any: first by the pid recorded at start, then by the pid
# the server wrote itself (covers a rig whose start was interrupted before recording it).
stop_server() {
  local pid candidates=() waited
  for f in "$pidfile" "$dir/runtime/pid"; do
    [ -r "$f" ] && candidates+=("$(head -n1 "$f" | tr -d '[:space:]')")
  done
  for pid in "${candidates[@]}"; do
    is_our_server "$pid" || continue
    kill -TERM "$pid" 2>/dev/null || true
    waited=0
    while is_our_server "$pid" && [ $waited -lt 50 ]; do
      sleep 0.1
      waited=$((waited + 1))
    done
    if is_our_server "$pid"; then
      echo "sound-rig: server $pid did not stop on SIGTERM; killing it" >&2
      kill -KILL "$pid" 2>/dev/null || true
      waited=0
      while is_our_server "$pid" && [ $waited -lt 50 ]; do
        sleep 0.1
        waited=$((waited + 1))
      done
      is_our_server "$pid" && fail "server $pid survived SIGKILL"
    fi
  done
  rm -f "$pidfile" "$socket" "$dir/runtime/pid" 2>/dev/null || true
}

answers() {
  PULSE_CLIENTCONFIG=$dir/client.conf timeout 3 pactl -s "$server" info >/dev/null 2>&1
}

start_server() {
  command -v pulseaudio >/dev/null || fail "pulseaudio is not installed (run scripts/setup.sh)"
  command -v pactl >/dev/null || fail "pactl is not installed (run scripts/setup.sh)"

  stop_server

  mkdir -p "$dir/home" "$dir/config" "$dir/runtime" "$dir/state"
  chmod 700 "$dir/home" "$dir/config" "$dir/runtime" "$dir/state"

  # The native protocol comes last: once the server answers, every module is loaded.
  cat >"$script" <<EOF
.fail
load-module module-null-sink sink_name=speakers
load-module module-sine-source source_name=mic frequency=440
load-module module-sine-source source_name=line frequency=880
set-default-source mic
load-module module-native-protocol-unix socket="$socket" auth-anonymous=1 auth-cookie-enabled=0
EOF
  # Our own daemon.conf replaces the machine's and the user's. No real-time or raised
  # priority: the server shares two cores with the tests.
  cat >"$dir/daemon.conf" <<EOF
daemonize = no
fail = yes
system-instance = no
exit-idle-time = -1
allow-module-loading = yes
allow-exit = yes
use-pid-file = yes
high-priority = no
realtime-scheduling = no
no-cpu-limit = yes
rlimit-nice = -1
rlimit-rtprio = -1
log-target = stderr
log-level = info
EOF
  # For the rig's own pactl calls: never start a server of the user's.
  cat >"$dir/client.conf" <<EOF
autospawn = no
EOF

  # A start interrupted half-way leaves no server behind.
  trap 'stop_server >/dev/null 2>&1 || true' EXIT
  trap 'exit 1' INT TERM HUP

  # setsid: a session of its own, so ctest's process group and terminal do not reach it;
  # its standard streams go to the log so nobody waits on a pipe it holds.
  env -u DBUS_SESSION_BUS_ADDRESS -u DISPLAY -u WAYLAND_DISPLAY -u PULSE_SERVER \
    HOME="$dir/home" \
    XDG_CONFIG_HOME="$dir/config" \
    XDG_RUNTIME_DIR="$dir/runtime" \
    PULSE_RUNTIME_PATH="$dir/runtime" \
    PULSE_STATE_PATH="$dir/state" \
    PULSE_CONFIG_PATH="$dir/config" \
    PULSE_CONFIG="$dir/daemon.conf" \
    PULSE_CLIENTCONFIG="$dir/client.conf" \
    setsid pulseaudio -n -F "$script" </dev/null >"$log" 2>&1 &
  local pid=$!
  echo "$pid" >"$pidfile"

  local wait=${SONARELLE_RIG_WAIT:-10}
  local deadline=$((SECONDS + wait))
  while ! answers; do
    if ! is_our_server "$pid"; then
      # Had setsid to fork, the server is the child; it names itself in its own pid file.
      local own
      own=$(head -n1 "$dir/runtime/pid" 2>/dev/null | tr -d '[:space:]') || true
      if is_our_server "$own"; then
        pid=$own
        echo "$pid" >"$pidfile"
        continue
      fi
      # The forked server may not have written its pid file yet.
      if [ ! -s "$dir/runtime/pid" ] && [ ! -s "$log" ] && [ $SECONDS -lt $deadline ]; then
        sleep 0.1
        continue
      fi
      echo "sound-rig: the server exited during start; its log ($log):" >&2
      cat "$log" >&2
      exit 1
    fi
    # The server carries on when a module of its script fails to load; do not wait for it.
    if grep -q 'Failed to load module' "$log"; then
      echo "sound-rig: the server could not load its modules; its log ($log):" >&2
      cat "$log" >&2
      exit 1
    fi
    if [ $SECONDS -ge $deadline ]; then
      echo "sound-rig: the server did not answer on $server within ${wait}s; its log ($log):" >&2
      cat "$log" >&2
      exit 1
    fi
    sleep 0.1
  done

  local sources sinks
  sources=$(PULSE_CLIENTCONFIG=$dir/client.conf timeout 3 pactl -s "$server" list short sources |
    cut -f2)
  sinks=$(PULSE_CLIENTCONFIG=$dir/client.conf timeout 3 pactl -s "$server" list short sinks |
    cut -f2)
  for name in mic line; do
    grep -qx "$name" <<<"$sources" || fail "the server has no source \"$name\" (sources: $sources)"
  done
  grep -qx speakers <<<"$sinks" || fail "the server has no sink \"speakers\" (sinks: $sinks)"

  trap - EXIT INT TERM HUP
  echo "sound-rig: server $pid answers on $server"
}

if [ "$action" = start ]; then
  start_server
else
  stop_server
fi
