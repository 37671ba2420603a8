#!/usr/bin/env bash
# Installs the system packages Corvane needs to build, run and test. Does nothing when all are
# present. The one place in the project that installs packages.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev
  qt6-base-dev qt6-base-dev-tools libxcb1-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  fonts-noto-cjk fonts-dejavu-core xvfb xdotool x11-utils iproute2 curl
  libchm-dev fp-utils
  dnsmasq-base kea-dhcp6-server isc-dhcp-server nginx-light
  dpkg-dev lintian desktop-file-utils libxml2-utils groff-base man-db systemd pkexec ccache
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
