#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the test peers need.
# Does nothing when everything is present; needs root to install.
set -euo pipefail
packages=(
  cmake ninja-build g++ clang clang-format clang-tidy libclang-rt-14-dev ccache pkg-config
  libgtest-dev libgmock-dev googletest libbenchmark-dev libpugixml-dev
  libcli11-dev nlohmann-json3-dev
  ffmpeg curl lighttpd
  python3-gi gir1.2-gst-rtsp-server-1.0 gir1.2-gst-plugins-base-1.0
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-ugly gstreamer1.0-x
  gstreamer1.0-tools strace
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
if [ "$(id -u)" -ne 0 ]; then
  echo "missing packages (run as root to install): ${missing[*]}" >&2
  exit 1
fi
echo "installing: ${missing[*]}"
apt-get update -qq
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
