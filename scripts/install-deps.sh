#!/usr/bin/env bash
# install-deps.sh [main]: installs the Debian packages that are missing;
# quick when all are present. "main" installs only what the plug-in and the
# renderer need to build and run; without it, also what the tests and
# benchmarks need.
set -euo pipefail

# The plug-in, its libraries and the renderer.
packages=(
  cmake g++ make pkg-config
  uuid-dev libfftw3-dev libtiff-dev libjpeg62-turbo-dev libeigen3-dev
  libpng-dev libosmesa6-dev
)
if [ "${1:-}" != main ]; then
  packages+=(
    libgtest-dev libbenchmark-dev
    # The benchmarks' peer library; only bench/ links it.
    libopencv-dev
    procps hershey-fonts-data
    # Image-file peers the tests run: libtiff's and libjpeg-turbo's tools,
    # Pillow, netpbm's converters, ImageMagick, giflib's.
    libtiff-tools libjpeg-turbo-progs python3-pil netpbm imagemagick giflib-tools
  )
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
fi
