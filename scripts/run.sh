#!/usr/bin/env bash
# Installs what is missing, builds zvcc and the Zorvane Server simulator zvsim,
# and runs the demo: a private session bus of the demo's own (dbus-daemon, never
# the machine's buses), zvsim serving the local interface on it and zVP on a
# free loopback port, and the console in a demo program folder (build/demo) on
# its default connection type, local, so that `start` connects through the bus.
# `con /s` and 2 switch the console to TCP/IP, already pointed at zvsim's port.
# Everything the script started is stopped when the console ends.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DZV_BUILD_TESTS=OFF >/dev/null
cmake --build build

demo=build/demo
mkdir -p "$demo/Settings" "$demo/Logs"
cp build/bin/zvcc "$demo/zvcc"
rm -rf "$demo/Help" && cp -r Help "$demo/Help"

scratch=$(mktemp -d)
bus= sim=
cleanup() {
  [ -z "$sim" ] || { kill "$sim" 2>/dev/null; wait "$sim" 2>/dev/null; } || true
  [ -z "$bus" ] || { kill "$bus" 2>/dev/null; wait "$bus" 2>/dev/null; } || true
  rm -rf "$scratch"
}
trap cleanup EXIT

# Waits until `file` holds a line matching `pattern` while process `pid` lives.
wait_for_line() {
  local file=$1 pattern=$2 pid=$3 what=$4
  for _ in $(seq 200); do
    grep -q "$pattern" "$file" && return 0
    kill -0 "$pid" 2>/dev/null || { echo "$what did not start" >&2; exit 1; }
    sleep 0.05
  done
  echo "$what did not start in time" >&2
  exit 1
}

# The demo's bus: its service folder is the build's, so a call to
# org.zorvane.Server would also start zvsim on demand if it were not running.
cat >"$scratch/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=$scratch/bus</listen>
  <servicedir>$PWD/build/share/dbus-1/services</servicedir>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
CONF
dbus-daemon --config-file="$scratch/bus.conf" --nofork --print-address=1 \
  >"$scratch/address" 2>/dev/null &
bus=$!
wait_for_line "$scratch/address" . "$bus" "dbus-daemon"
export DBUS_SESSION_BUS_ADDRESS
DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$scratch/address")
unset ZVCC_LOCAL_BUS  # the session bus, since its address is set

build/bin/zvsim --port 0 --dbus session --quiet >"$scratch/zvsim" &
sim=$!
wait_for_line "$scratch/zvsim" "serving org.zorvane.Server" "$sim" "zvsim"
port=$(sed -n 's/^listening on [0-9.]*:\([0-9]*\)$/\1/p' "$scratch/zvsim")
[ -n "$port" ] || { echo "zvsim did not say its port" >&2; exit 1; }

# The demo's link settings: the local connection type, with TCP/IP pointed at
# the simulator for `con /s`; other settings stay as the demo left them.
python3 - "$demo/Settings/zvcc.ini" "$port" <<'PY'
import sys
path, port = sys.argv[1], sys.argv[2]
wanted = {"ConnectionId": "1", "ServerIP": "127.0.0.1", "ServerPort": port}
try:
    lines = open(path, encoding="utf-8-sig").read().splitlines()
except FileNotFoundError:
    lines = ["[ConsoleSys]"]
out, section = [], None
for line in lines:
    if line.startswith("["):
        if section == "[ConsoleSys]":
            out += ["%s=%s" % kv for kv in wanted.items()]
            wanted = {}
        section = line.strip()
    elif section == "[ConsoleSys]" and line.split("=", 1)[0] in wanted:
        continue
    out.append(line)
if section == "[ConsoleSys]":
    out += ["%s=%s" % kv for kv in wanted.items()]
elif wanted:
    out += ["[ConsoleSys]"] + ["%s=%s" % kv for kv in wanted.items()]
open(path, "w", encoding="utf-8-sig", newline="\r\n").write("\n".join(out) + "\n")
PY

echo "zvsim serves the local interface on the demo's bus and zVP on 127.0.0.1:$port."
echo "Type 'start' to connect locally, '555,Hello' to send, 'q' to exit;"
echo "'con /s' then 2 switches to TCP/IP."
# On a terminal the console's first screen clears it: the hints wait for the
# operator to read them (at most five minutes). Through a pipe nothing is
# cleared, so the console starts at once.
if [ -t 0 ] && [ -t 1 ]; then
  read -r -t 300 -p "Press Enter to start the console. " _ || echo
fi
"$demo/zvcc" || status=$?
exit "${status:-0}"
