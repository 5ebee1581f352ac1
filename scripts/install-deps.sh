#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Tandor File need.
# Idempotent: when everything is present it only checks and returns.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config clang
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libgtest-dev libgmock-dev
  zlib1g-dev libdeflate-dev libisal-dev libbz2-dev liblzma-dev libssl-dev libarchive-dev
  libdevil-dev libgif-dev
  xvfb xauth imagemagick xdg-utils
  zip unzip p7zip-full pigz libarchive-tools gzip tar python3 bc
  librsvg2-bin dpkg-dev file desktop-file-utils appstream shared-mime-info libglib2.0-bin groff-base man-db lintian
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing missing packages: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then SUDO="sudo"; else
    echo "These packages are missing and you are not root: ${missing[*]}" >&2
    exit 1
  fi
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
echo "Packages installed."
