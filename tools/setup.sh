#!/usr/bin/env bash
# Installs what Quillmark needs on Debian 12: as root with apt-get, otherwise it names the
# missing packages and stops.
#   setup.sh run    building and running the programs
#   setup.sh test   that and the test tools (the default)
set -euo pipefail

run_packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-qpa-plugins libasound2-dev libjack-jackd2-dev
  # The remote page's HTTP server, OSC and the QR code.
  libcivetweb-dev liblo-dev libqrencode-dev
)
test_packages=(
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  jackd2 pipewire pipewire-bin pipewire-jack
  xvfb openbox xdotool x11-utils imagemagick nginx-light
  desktop-file-utils appstream man-db libxdamage-dev libxtst-dev
  # The Debian package: its dependency list (dpkg-shlibdeps) and its checker.
  dpkg-dev lintian
  # The remote page in a real browser, and a real OSC sender.
  chromium chromium-driver python3-selenium liblo-tools
  # quillmark-send's completion is tested with the helpers it uses.
  bash-completion
  # The ALSA sequencer tests boot Debian's kernel under QEMU from a busybox initramfs
  # (tests/kernel/run-in-qemu.sh).
  qemu-system-x86 busybox-static cpio kmod xz-utils
  # The Windows cross-build (mingw-w64 with the posix thread model, GoogleTest from the
  # googletest sources), wine to run its tests and NSIS for its installer.
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64 nsis
)

case ${1:-test} in
  run) packages=("${run_packages[@]}") ;;
  test) packages=("${run_packages[@]}" "${test_packages[@]}") ;;
  *)
    echo "usage: setup.sh [run|test]" >&2
    exit 2
    ;;
esac

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ $status == "install ok installed" ]] || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

if [[ $(id -u) -ne 0 ]]; then
  echo "Quillmark needs these Debian packages: ${missing[*]}" >&2
  echo "Install them with: sudo apt-get install ${missing[*]}" >&2
  exit 1
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
