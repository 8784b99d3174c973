#!/usr/bin/env bash
# Installs the Debian packages zvcc needs to build, run and test, if any is missing.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev pkg-config
  libedit-dev libpugixml-dev libsystemd-dev libsqlite3-dev dbus-daemon dbus-bin nlohmann-json3-dev
  systemd
  libgtest-dev libgmock-dev libbenchmark-dev
  python3 python3-pexpect python3-pyte jq time
  openssl libssl-dev
  dpkg-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends \
  "${missing[@]}"
