#!/usr/bin/env bash
# Installs what is missing, builds zvcc and the zVP simulator zvsim, and runs the
# demo: zvsim in the background on a free loopback port, and the console in a
# demo program folder (build/demo) whose settings point at it over TCP/IP. The
# simulator is stopped when the console ends.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DZV_BUILD_TESTS=OFF >/dev/null
cmake --build build

demo=build/demo
mkdir -p "$demo/Settings" "$demo/Logs"
cp build/bin/zvcc "$demo/zvcc"
rm -rf "$demo/Help" && cp -r Help "$demo/Help"

portfile=$(mktemp)
build/bin/zvsim --port 0 --quiet >"$portfile" &
sim=$!
trap 'kill "$sim" 2>/dev/null; wait "$sim" 2>/dev/null; rm -f "$portfile"' EXIT
for _ in $(seq 100); do
  grep -q listening "$portfile" && break
  kill -0 "$sim" || { echo "zvsim did not start" >&2; exit 1; }
  sleep 0.05
done
port=$(sed -n 's/^listening on [0-9.]*:\([0-9]*\)$/\1/p' "$portfile")
[ -n "$port" ] || { echo "zvsim did not say its port" >&2; exit 1; }

# The demo's link settings: TCP/IP to the simulator; other settings stay as
# the demo left them last time.
python3 - "$demo/Settings/zvcc.ini" "$port" <<'PY'
import sys
path, port = sys.argv[1], sys.argv[2]
wanted = {"ConnectionId": "2", "ServerIP": "127.0.0.1", "ServerPort": port}
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

echo "zvsim serves 127.0.0.1:$port; type 'start' to connect, '555,Hello' to send, 'q' to exit."
"$demo/zvcc" || status=$?
exit "${status:-0}"
