#!/usr/bin/env bash
# Runs COMMAND inside a private, throw-away desktop: Xvfb + openbox + an XEmbed tray (trayer),
# its own D-Bus session bus with an unlocked gnome-keyring Secret Service, and a PulseAudio
# daemon whose default source is a FIFO the tests feed. Nothing is shared with the caller's
# session or with other test sessions running at the same time, and everything it started
# (including whatever COMMAND leaves behind) is killed and deleted when it ends.
#
#   scripts/test-session.sh COMMAND [ARGS...]     exits with COMMAND's exit code
#   ZAPUM_TEST_SESSION_VERBOSE=1                  one line per started service on stderr
# shellcheck disable=SC2317  # functions reached through traps and wait_for look unreachable
set -uo pipefail

if [ $# -eq 0 ]; then
  echo "usage: $0 COMMAND [ARGS...]" >&2
  exit 2
fi

missing=()
for c in Xvfb openbox trayer xprop xdotool xset dbus-daemon gnome-keyring-daemon secret-tool pulseaudio pactl parec sox; do
  command -v "$c" >/dev/null || missing+=("$c")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "test-session: missing ${missing[*]} (scripts/install-deps.sh installs them)" >&2
  exit 1
fi

verbose=${ZAPUM_TEST_SESSION_VERBOSE:-0}
tmp=$(mktemp -d "${TMPDIR:-/tmp}/zapum-session.XXXXXX") || { echo "test-session: mktemp failed" >&2; exit 1; }
logs=$tmp/log
mkdir -p "$logs"
pids=()        # services we started, in start order
xvfb_pid=""
display_num=""
cmd_pid=""

# Every process started from here on inherits this unique marker, so teardown can also find what
# escaped our bookkeeping (children that daemonized, a leftover app instance, WebEngine helpers).
export ZAPUM_TEST_SESSION_DIR=$tmp

say() { [ "$verbose" = 1 ] && echo "test-session: $*" >&2; return 0; }

# One line naming the failed service, with the last thing it logged as the most likely reason.
die() {
  local service=$1 log=${2:-}
  local why=""
  [ -n "$log" ] && [ -s "$log" ] && why=": $(grep -v '^\s*$' "$log" | tail -n 1)"
  echo "test-session: $service failed to start$why" >&2
  exit 1
}

# Polls CHECK every 50 ms for up to 30 s of wall time (a loaded 2-core machine can take many
# seconds to map a window); gives up early when PID (if given) has died.
wait_for() {
  local pid=$1; shift
  local deadline=$((SECONDS + 30))
  while ((SECONDS < deadline)); do
    "$@" >/dev/null 2>&1 && return 0
    [ -n "$pid" ] && ! kill -0 "$pid" 2>/dev/null && return 1
    sleep 0.05
  done
  return 1
}

# PIDs whose initial environment carries our marker. Uses builtins only, so the scan itself
# spawns nothing that would match.
marked_pids() {
  local d pid v
  local -a env
  marked=()
  for d in /proc/[0-9]*; do
    pid=${d#/proc/}
    [ "$pid" = $$ ] && continue
    mapfile -d "" -t env 2>/dev/null <"$d/environ" || continue
    for v in "${env[@]}"; do
      if [ "$v" = "ZAPUM_TEST_SESSION_DIR=$tmp" ]; then
        marked+=("$pid")
        break
      fi
    done
  done
}

# True while PID exists and is not a zombie (kill -0 also succeeds on zombies).
is_alive() {
  local stat
  read -r stat 2>/dev/null <"/proc/$1/stat" || return 1
  stat=${stat##*) }
  [ "${stat%% *}" != Z ]
}

cleanup() {
  trap - EXIT INT TERM
  local i p alive
  marked_pids
  local -a all=("${pids[@]}" "${marked[@]}")
  [ -n "$cmd_pid" ] && all+=("$cmd_pid")
  for p in "${all[@]}"; do kill -TERM "$p" 2>/dev/null; done
  # Up to 2 s for a clean exit (Xvfb removes its lock, pulseaudio its sockets), then SIGKILL.
  for ((i = 0; i < 40; i++)); do
    alive=0
    marked_pids
    for p in "${all[@]}" "${marked[@]}"; do
      is_alive "$p" && { alive=1; break; }
    done
    [ "$alive" = 0 ] && break
    sleep 0.05
  done
  marked_pids
  for p in "${all[@]}" "${marked[@]}"; do kill -KILL "$p" 2>/dev/null; done
  wait 2>/dev/null
  # A SIGKILLed Xvfb cannot remove its lock and socket; they would block that display for others.
  if [ -n "$xvfb_pid" ] && [ "$(tr -d ' \n' 2>/dev/null <"/tmp/.X$display_num-lock")" = "$xvfb_pid" ]; then
    rm -f "/tmp/.X$display_num-lock" "/tmp/.X11-unix/X$display_num"
  fi
  rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

export HOME=$tmp/home
export XDG_CONFIG_HOME=$HOME/.config XDG_DATA_HOME=$HOME/.local/share XDG_CACHE_HOME=$HOME/.cache
export XDG_RUNTIME_DIR=$tmp/run
mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME"
mkdir -m 0700 "$XDG_RUNTIME_DIR"
# Whatever the caller's desktop is must not leak in.
unset WAYLAND_DISPLAY XAUTHORITY SESSION_MANAGER DESKTOP_SESSION XDG_SESSION_TYPE XDG_CURRENT_DESKTOP \
  GNOME_KEYRING_CONTROL SSH_AUTH_SOCK PULSE_COOKIE PULSE_CLIENTCONFIG QT_QUICK_BACKEND

start_dbus_keyring() {
  # Own config without service directories: nothing gets D-Bus-activated behind our back. An
  # activated gnome-keyring would have no unlocked login collection, and any activated daemon
  # would outlive us.
  cat >"$tmp/dbus.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=$XDG_RUNTIME_DIR/bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
EOF
  dbus-daemon --nofork --config-file="$tmp/dbus.conf" --print-address=3 \
    3>"$tmp/bus.address" >"$logs/dbus.log" 2>&1 &
  local bus_pid=$!
  pids+=("$bus_pid")
  wait_for "$bus_pid" test -s "$tmp/bus.address" || die dbus-daemon "$logs/dbus.log"
  DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$tmp/bus.address")
  export DBUS_SESSION_BUS_ADDRESS
  say "dbus-daemon $DBUS_SESSION_BUS_ADDRESS"

  # Unlocking with a password when no keyring exists yet creates the "login" keyring with that
  # password and makes it the default collection, which is where secret-tool and QtKeychain store.
  # --foreground keeps it our child so its PID is known.
  printf %s zapum-test | gnome-keyring-daemon --foreground --unlock --components=secrets \
    >"$logs/keyring.log" 2>&1 &
  local keyring_pid=$!
  pids+=("$keyring_pid")
  # The store succeeds only once the daemon owns org.freedesktop.secrets and the collection is open.
  wait_for "$keyring_pid" secret_probe || die gnome-keyring "$logs/keyring.log"
  say "gnome-keyring (login collection unlocked)"
}

secret_probe() {
  secret-tool store --label=probe zapum probe <<<value || return 1
  [ "$(secret-tool lookup zapum probe)" = value ] || return 1
  secret-tool clear zapum probe
}

start_x() {
  # Xvfb's own lock file decides races with concurrent sessions: a loser exits at once and we try
  # the next number. -displayfd makes Xvfb write the number only when it accepts connections.
  local n
  for ((n = 90; n < 190; n++)); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
    : >"$tmp/x.display"
    # -s 0: the screen never blanks by itself (animations stop while it is blank); tests that want
    # it blank say so with `xset s activate`.
    Xvfb ":$n" -screen 0 1280x800x24 +extension RANDR -s 0 -nolisten tcp -displayfd 3 \
      3>"$tmp/x.display" >"$logs/xvfb.log" 2>&1 &
    xvfb_pid=$!
    if wait_for "$xvfb_pid" test -s "$tmp/x.display"; then
      display_num=$n
      break
    fi
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
    xvfb_pid=""
    # Only losing a display to someone else is worth another number; anything else will repeat.
    grep -qi already "$logs/xvfb.log" || die Xvfb "$logs/xvfb.log"
  done
  [ -n "$display_num" ] || die Xvfb "$logs/xvfb.log"
  pids+=("$xvfb_pid")
  export DISPLAY=:$display_num
  say "Xvfb $DISPLAY"

  openbox --sm-disable >"$logs/openbox.log" 2>&1 &
  local wm_pid=$!
  pids+=("$wm_pid")
  wait_for "$wm_pid" wm_ready || die openbox "$logs/openbox.log"
  say "openbox"

  # trayer owns _NET_SYSTEM_TRAY_S0 before it maps its panel, so a visible panel means a
  # QSystemTrayIcon created from now on finds the tray. On a loaded machine it has been seen to
  # exit silently while starting; a new one is tried before giving up.
  local tray_pid
  for _ in 1 2 3; do
    trayer --edge top --align right --widthtype request --height 22 --transparent true --alpha 255 \
      >>"$logs/trayer.log" 2>&1 &
    tray_pid=$!
    pids+=("$tray_pid")
    if wait_for "$tray_pid" xdotool search --onlyvisible --class trayer; then
      say "trayer"
      return 0
    fi
    kill "$tray_pid" 2>/dev/null
  done
  die trayer "$logs/trayer.log"
}

wm_ready() {
  xprop -root _NET_SUPPORTING_WM_CHECK | grep -q 'window id'
}

start_pulse() {
  export PULSE_RUNTIME_PATH=$XDG_RUNTIME_DIR/pulse
  export PULSE_SERVER=unix:$PULSE_RUNTIME_PATH/native
  export ZAPUM_TEST_MIC_FIFO=$tmp/mic.fifo
  # Clients must fail loudly rather than spawn a daemon of their own that nobody tears down.
  mkdir -p "$XDG_CONFIG_HOME/pulse"
  echo "autospawn = no" >"$XDG_CONFIG_HOME/pulse/client.conf"

  # The microphone is a pipe-source on a FIFO that module-pipe-source creates itself (it refuses
  # an existing path). Its quirks, as observed with PulseAudio 16:
  #  - With nothing writing, a recording stream receives no data at all (no silence): a recorder
  #    just stalls, so a test must write while it records.
  #  - Pulse reads the FIFO only while some stream records from zapum_mic. Without one, a writer
  #    blocks once the 64 KiB pipe buffer (~2 s of 16 kHz mono) is full, and whatever sits in the
  #    buffer is delivered to the next recorder, so start recording first, then write.
  #  - Data is delivered as fast as it is written, not at 16 kHz: pace writes when timing matters.
  cat >"$tmp/pulse.pa" <<EOF
.fail
load-module module-native-protocol-unix socket=$PULSE_RUNTIME_PATH/native auth-anonymous=1
load-module module-null-sink sink_name=zapum_null
load-module module-pipe-source source_name=zapum_mic file=$ZAPUM_TEST_MIC_FIFO format=s16le rate=16000 channels=1
set-default-sink zapum_null
set-default-source zapum_mic
EOF
  # As root, pulseaudio warns that it is meant for system mode but runs as a user daemon fine;
  # --daemonize=no keeps it our child, -n skips the distribution's default.pa.
  pulseaudio -n -F "$tmp/pulse.pa" --system=false --daemonize=no --exit-idle-time=-1 \
    --use-pid-file=false --realtime=false --high-priority=false --log-target=stderr \
    >"$logs/pulse.log" 2>&1 &
  local pa_pid=$!
  pids+=("$pa_pid")
  wait_for "$pa_pid" pulse_ready || die pulseaudio "$logs/pulse.log"
  mic_probe || die "pulseaudio (zapum_mic recording)" "$logs/mic-probe.log"
  say "pulseaudio $PULSE_SERVER (mic FIFO $ZAPUM_TEST_MIC_FIFO)"
}

pulse_ready() {
  pactl info 2>/dev/null | grep -q '^Default Source: zapum_mic$'
}

# Records from zapum_mic while writing 0.1 s of a tone into the FIFO and checks it came out.
# Also proves the FIFO is drained, so no probe audio is left for the tests.
mic_probe() {
  local bytes=3200 rec_pid i got=0
  sox -q -n -t raw -e signed -b 16 -r 16000 -c 1 "$tmp/probe.raw" synth 0.1 sine 440 vol 0.5 \
    2>"$logs/mic-probe.log" || return 1
  parec -d zapum_mic --raw --format=s16le --rate=16000 --channels=1 >"$tmp/probe.rec" 2>>"$logs/mic-probe.log" &
  rec_pid=$!
  wait_for "$rec_pid" mic_recording || { kill "$rec_pid" 2>/dev/null; return 1; }
  cat "$tmp/probe.raw" >"$ZAPUM_TEST_MIC_FIFO"
  for ((i = 0; i < 60; i++)); do
    got=$(stat -c %s "$tmp/probe.rec")
    [ "$got" -ge "$bytes" ] && break
    sleep 0.05
  done
  kill "$rec_pid" 2>/dev/null
  wait "$rec_pid" 2>/dev/null
  if [ "$got" -lt "$bytes" ] || [ -z "$(tr -d '\0' <"$tmp/probe.rec" | head -c 1)" ]; then
    echo "recorded $got of $bytes bytes, or only silence" >>"$logs/mic-probe.log"
    return 1
  fi
  rm -f "$tmp/probe.raw" "$tmp/probe.rec"
}

mic_recording() {
  [ -n "$(pactl list short source-outputs)" ]
}

start_dbus_keyring
start_x
start_pulse

export ZAPUM_TEST_SESSION=1
export QT_QPA_PLATFORM=xcb
export QTWEBENGINE_CHROMIUM_FLAGS="--no-sandbox --ignore-gpu-blocklist"
export LC_ALL=C.UTF-8

# In the background with wait, so a TERM or Ctrl-C reaches our trap at once instead of after
# COMMAND ends; the explicit <&0 keeps its stdin (bash would give a background job /dev/null).
"$@" <&0 &
cmd_pid=$!
wait "$cmd_pid"
rc=$?
cmd_pid=""
exit "$rc"
