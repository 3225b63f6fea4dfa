#!/usr/bin/env bash
# Idle memory of the client beside xterm: both started side by side on a private Xvfb (no TCP listener) and a
# private session bus (a desktop has one, and the keyring is reached through it), left alone for a few seconds,
# then Rss and Pss read from /proc/PID/smaps_rollup. Rounds alternate which program starts first; each round has
# a fresh HOME. Prints min and median per program, and the optional libraries mapped by the client at idle.
#
#   bench/app/idle_memory.sh [path/to/qtelnet] [rounds=5] [idle seconds=5]
#
# IDLE_MEMORY_NO_BUS=1 leaves the session bus out (a bare X session).
#
# Needs Xvfb, xterm and dbus-daemon (scripts/deps.sh). Everything it starts is stopped by PID at the end; the
# whole run is bounded (about rounds * (idle + 2) seconds, ended after 300 s).
set -euo pipefail

# The whole run is bounded: a start that hangs is ended with everything else rather than waited for.
if [ -z "${IDLE_MEMORY_BOUNDED:-}" ]; then
  IDLE_MEMORY_BOUNDED=1 exec timeout -k 5 300 "$0" "$@"
fi

client=${1:-$(dirname "$0")/../../build/qtelnet}
rounds=${2:-5}
idle=${3:-5}
[ -x "$client" ] || { echo "no client at $client (give its path)" >&2; exit 2; }
client=$(cd "$(dirname "$client")" && pwd)/$(basename "$client")
for tool in Xvfb xterm dbus-daemon; do
  command -v "$tool" >/dev/null || { echo "$tool is missing (scripts/deps.sh installs it)" >&2; exit 2; }
done

work=$(mktemp -d)
pids=()
xvfb_pid=""
bus_pid=""
stop_all() {
  local p
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do
    for _ in 1 2 3 4 5 6 7 8 9 10; do kill -0 "$p" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$p" 2>/dev/null || true
  done
  pids=()
}
# What the bus started for the client (the keyring) are its children: stopped by PID.
stop_bus_children() {
  local c
  [ -n "$bus_pid" ] || return 0
  for c in $(ps -o pid= --ppid "$bus_pid" 2>/dev/null); do kill "$c" 2>/dev/null || true; done
}
cleanup() {
  stop_all
  stop_bus_children
  if [ -n "$bus_pid" ]; then kill "$bus_pid" 2>/dev/null || true; fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 143' TERM INT

# A free display number, chosen by Xvfb itself.
Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x1024x24 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 50); do
  [ -s "$work/display" ] && break
  sleep 0.1
done
display=$(head -1 "$work/display")
[ -n "$display" ] || { echo "Xvfb gave no display" >&2; exit 1; }
export DISPLAY=:$display

mkdir -p "$work/run" && chmod 700 "$work/run"
export XDG_RUNTIME_DIR=$work/run
if [ -n "${IDLE_MEMORY_NO_BUS:-}" ]; then
  unset DBUS_SESSION_BUS_ADDRESS
else
  dbus-daemon --session --fork --print-address=1 --print-pid=1 >"$work/bus" 2>/dev/null
  DBUS_SESSION_BUS_ADDRESS=$(sed -n 1p "$work/bus")
  export DBUS_SESSION_BUS_ADDRESS
  bus_pid=$(sed -n 2p "$work/bus")
fi
unset http_proxy https_proxy all_proxy HTTP_PROXY HTTPS_PROXY ALL_PROXY SESSION_MANAGER

started=""
start() {  # start NAME: runs it with a fresh HOME; its PID in $started
  local home
  home=$(mktemp -d "$work/home.XXXX")
  case "$1" in
    qtelnet) (cd "$home" && HOME=$home XDG_CONFIG_HOME=$home/.config XDG_DATA_HOME=$home/.local/share \
                exec "$client" >"$home/out.log" 2>&1) & ;;
    xterm) (cd "$home" && HOME=$home exec xterm -e sleep 600 >"$home/out.log" 2>&1) & ;;
  esac
  started=$!
  pids+=("$started")
}

field() { awk -v k="$2:" '$1 == k { print $2 }' "/proc/$1/smaps_rollup"; }
stats() {  # stats VALUES...: "min median" in MiB
  printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END {
    m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
    printf "%6.1f %6.1f", v[1] / 1024, m / 1024 }'
}

watched='libcups|libgnutls|libavahi-client|libqt6keychain|libsecret|libgio-2|libgobject-2|libdbus-1|libQt6DBus|libproxy|libgssapi|libkrb5|libcupsprintersupport|proxy/[^/]*/modules'
declare -a q_rss q_pss x_rss x_pss
: >"$work/libs"
for ((r = 1; r <= rounds; r++)); do
  if ((r % 2)); then
    start qtelnet; q=$started; start xterm; x=$started
  else
    start xterm; x=$started; start qtelnet; q=$started
  fi
  sleep "$idle"
  for p in "$q" "$x"; do
    kill -0 "$p" 2>/dev/null || { echo "round $r: process $p ended early" >&2; exit 1; }
  done
  q_rss+=("$(field "$q" Rss)"); q_pss+=("$(field "$q" Pss)")
  x_rss+=("$(field "$x" Rss)"); x_pss+=("$(field "$x" Pss)")
  awk '{ print $6 }' "/proc/$q/maps" | grep -E "$watched" | xargs -rn1 basename >>"$work/libs" || true
  stop_all
  stop_bus_children
done

echo "idle ${idle}s, ${rounds} rounds, session bus: $([ -n "$bus_pid" ] && echo yes || echo no); MiB   min median"
printf 'qtelnet Rss                          %s\n' "$(stats "${q_rss[@]}")"
printf 'qtelnet Pss                          %s\n' "$(stats "${q_pss[@]}")"
printf 'xterm   Rss                          %s\n' "$(stats "${x_rss[@]}")"
printf 'xterm   Pss                          %s\n' "$(stats "${x_pss[@]}")"
echo "optional libraries mapped by qtelnet at idle: $(sort -u "$work/libs" | tr '\n' ' ')"
