#!/usr/bin/env bash
# Installs the Debian packages the project needs, and only those missing.
# Quiet when everything is already there. Sourced by run.sh and test.sh.
set -euo pipefail

QUILLMERE_PACKAGES=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libgtest-dev
  # small files read in batches (io_uring)
  liburing-dev
  fonts-dejavu-core fonts-liberation fonts-urw-base35
  qt6-translations-l10n
  libxcb1-dev
  # the install tree's tests and the Debian package
  desktop-file-utils appstream shared-mime-info libglib2.0-bin dpkg-dev file
  # the window manager's view of the windows, on a virtual X server
  xvfb xauth
  # kbx's translations: lupdate, lrelease and their CMake functions
  qt6-l10n-tools qt6-tools-dev
)

quillmere_missing_packages() {
  local p
  for p in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
      printf '%s\n' "$p"
    fi
  done
}

quillmere_install() {
  local missing
  mapfile -t missing < <(quillmere_missing_packages "$@")
  [ "${#missing[@]}" -eq 0 ] && return 0
  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then sudo=(sudo); fi
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get update -qq
  "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

quillmere_install "${QUILLMERE_PACKAGES[@]}"

# Configures and builds a preset, printing the build log only on failure.
quillmere_build() {
  local log
  if ! log=$(cmake --preset "$1" 2>&1); then printf '%s\n' "$log"; return 1; fi
  if ! log=$(cmake --build --preset "$1" -j "$(nproc)" 2>&1); then printf '%s\n' "$log"; return 1; fi
}
