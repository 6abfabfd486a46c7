#!/usr/bin/env bash
# Installs the Debian packages qorb needs to build and test, when missing.
set -euo pipefail
packages=(cmake g++ make pkg-config libgtest-dev libgmock-dev libbenchmark-dev libexpat1-dev expat
          libopensm-dev libinih-dev libcli11-dev pciutils binutils)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "qorb: these Debian packages are missing: ${missing[*]}" >&2
  echo "qorb: run this command as root (or: sudo apt-get install ${missing[*]})" >&2
  exit 1
fi
echo "qorb: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
