#!/usr/bin/env bash
# Installs the Debian packages the build needs; quick when all are present.
set -euo pipefail

packages=(
  cmake g++ make
  libgtest-dev libbenchmark-dev
  # The benchmarks' peer library; only bench/ links it.
  libopencv-dev
  uuid-dev procps
  libfftw3-dev libtiff-dev libtiff-tools libjpeg62-turbo-dev libeigen3-dev
  libjpeg-turbo-progs python3-pil
  libosmesa6-dev hershey-fonts-data
  # Image-file peers the tests run: netpbm's converters, ImageMagick, giflib's.
  libpng-dev netpbm imagemagick giflib-tools
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
fi
