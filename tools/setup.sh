#!/usr/bin/env bash
# Installs what building, running and testing Quillmark needs on Debian 12: as root with
# apt-get, otherwise it names the missing packages and stops.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev libasound2-dev libjack-jackd2-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  jackd2 pipewire pipewire-bin pipewire-jack
  xvfb openbox xdotool x11-utils imagemagick nginx-light
)

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
