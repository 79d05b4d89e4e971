#!/usr/bin/env bash
# Installs the Debian packages Veltra Log needs to build and test, and only
# those that are missing. Safe to run again; needs root (or sudo) only when
# something is actually missing. Never asks questions.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config
  libgtest-dev libgmock-dev
  libicu-dev
  nlohmann-json3-dev
  libsqlite3-dev
  clang libclang-rt-14-dev llvm
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl-dev
  fonts-liberation xvfb xauth poppler-utils desktop-file-utils libjpeg-dev
  librsvg2-bin appstream dpkg-dev file lintian
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all build packages are present"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
  sudo_cmd=()
elif command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
  sudo_cmd=(sudo -n)
else
  echo "install-deps: these packages are missing: ${missing[*]}" >&2
  echo "install-deps: run this script as root (or with sudo) to install them:" >&2
  echo "    sudo $0" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -q
"${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
