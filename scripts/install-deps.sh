#!/usr/bin/env bash
# Installs the Debian packages that zelt needs to build and test, when missing.
# As root it runs apt-get; otherwise it prints the apt-get line and stops.
set -euo pipefail

packages=(
  g++ make cmake
  pybind11-dev libtbb-dev libyaml-cpp-dev libfmt-dev libgtest-dev
  python3-dev python3-numpy python3-ase python3-rdkit python3-pytest python3-mdanalysis python3-mdtraj
  python3-setuptools python3-pip python3-venv
  pypy3 pypy3-dev python3-exceptiongroup python3-tomli
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

if [ "$(id -u)" -ne 0 ]; then
  echo "zelt needs these packages; install them with:" >&2
  echo "  sudo apt-get install -y ${missing[*]}" >&2
  exit 1
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq "${missing[@]}"
