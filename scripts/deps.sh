#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the peers need; does nothing when all are present.
set -euo pipefail
pkgs=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev qt6-base-dev-tools libgl-dev libxkbcommon-dev
  libgtest-dev libgmock-dev libcups2-dev
  clang clang-format libclang-rt-14-dev
  libvterm-dev libssl-dev
  curl python3 python3-cryptography python3-pycryptodome python3-paramiko python3-bcrypt
  openssh-server sshpass socat inetutils-telnetd dropbear-bin python3-asyncssh vim htop
  cups cups-client poppler-utils
  xvfb xdotool xterm xdg-utils fonts-dejavu-core man-db
  qtkeychain-qt6-dev libsecret-1-0 gnome-keyring dbus-daemon dbus-bin
)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
