#!/usr/bin/env bash
# Builds the client and starts it. With no arguments it also starts the demo host on 127.0.0.1 (a free port) and
# connects to it, in a configuration of its own ("demo") so the user's stored host stays as it was; the demo host
# stops when the client exits. With arguments they go to the client as they are.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
if [ "$#" -gt 0 ]; then
  cmake --build build -j "${JOBS:-2}" --target qtelnet
  exec build/qtelnet "$@"
fi

cmake --build build -j "${JOBS:-2}" --target qtelnet demohost
port_file=$(mktemp)
build/tools/demohost --port 0 >"$port_file" &
demo_pid=$!
trap 'kill "$demo_pid" 2>/dev/null || true; wait "$demo_pid" 2>/dev/null || true; rm -f "$port_file"' EXIT
port=
for _ in $(seq 50); do
  port=$(sed -n 's/^port \([0-9]*\)$/\1/p' "$port_file")
  [ -n "$port" ] && break
  kill -0 "$demo_pid" 2>/dev/null || break
  sleep 0.1
done
if [ -z "$port" ]; then
  echo "run.sh: the demo host did not start" >&2
  exit 1
fi
build/qtelnet /C demo /H 127.0.0.1 /P "$port"
