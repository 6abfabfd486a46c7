#!/usr/bin/env bash
# Installs the Debian packages qorb needs to build and test, when missing.
set -euo pipefail
packages=(cmake g++ make pkg-config libgtest-dev libgmock-dev libbenchmark-dev libexpat1-dev expat
          libopensm-dev libinih-dev libcli11-dev pciutils libpci-dev pci.ids binutils gcovr python3 help2man
          pybind11-dev python3-dev python3-pytest doxygen nlohmann-json3-dev)
# The style checks of .ci/run (scripts/lint.sh) ask for their tools: --lint.
[ "${1:-}" = "--lint" ] && packages+=(clang-format shellcheck)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# For the emulated-machine test (tests/vm, docs/emulated-machine.md): QEMU, a
# kernel with the PCI Express port and serial drivers built in, a static
# busybox, and cpio to pack the initramfs; for the browser test of the HTML
# report (tests/test_report.cpp), headless Chromium. Optional: when they
# cannot be installed the tests are skipped and say why.
# Only the test command asks for them (--vm).
vm_packages=()
[ "${1:-}" = "--vm" ] && vm_packages=(qemu-system-x86 linux-image-cloud-amd64 busybox-static cpio chromium)
vm_missing=()
for p in "${vm_packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || vm_missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ] && [ ${#vm_missing[@]} -eq 0 ]; then
  exit 0
fi
if [ "$(id -u)" -ne 0 ]; then
  if [ ${#missing[@]} -ne 0 ]; then
    echo "qorb: these Debian packages are missing: ${missing[*]}" >&2
    echo "qorb: run this command as root (or: sudo apt-get install ${missing[*]})" >&2
    exit 1
  fi
  echo "qorb: the emulated-machine and browser tests need ${vm_missing[*]} (not root: not installed; skipped)" >&2
  exit 0
fi
export DEBIAN_FRONTEND=noninteractive
if [ ${#missing[@]} -ne 0 ]; then
  echo "qorb: installing ${missing[*]}"
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
if [ ${#vm_missing[@]} -ne 0 ]; then
  echo "qorb: installing ${vm_missing[*]} for the emulated-machine and browser tests"
  { [ ${#missing[@]} -ne 0 ] || apt-get update -qq; } &&
    apt-get install -y -qq --no-install-recommends "${vm_missing[@]}" >/dev/null ||
    echo "qorb: could not install ${vm_missing[*]}; the tests that need them will be skipped" >&2
fi
