#!/usr/bin/env bash
# Installs the Debian 12 packages the build and the tests need, then configures and builds.
# Idempotent: packages already present are not fetched again; the build is incremental.
# Usage: scripts/setup.sh [build-dir]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD_DIR="${1:-build}"

PACKAGES=(
  build-essential cmake ninja-build pkg-config git
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libavformat-dev libavcodec-dev libavutil-dev libswresample-dev libswscale-dev
  libmp3lame-dev libmad0-dev zlib1g-dev nlohmann-json3-dev libpulse-dev
  pulseaudio pulseaudio-utils
  sox lame ffmpeg zip unzip python3
  clang libclang-rt-14-dev
  fonts-liberation2 fonts-dejavu-core fonts-dejavu-extra
  xvfb xdotool
)

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  as_root env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

JOBS="${VTS_JOBS:-$(nproc 2>/dev/null || echo 4)}"
cmake -S . -B "$BUILD_DIR" -G Ninja ${VTS_CMAKE_ARGS:-}
cmake --build "$BUILD_DIR" -j "$JOBS"
