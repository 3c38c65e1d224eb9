#!/usr/bin/env bash
# The main job: installs what is missing, builds everything, and renders the
# built-in clip through the effect with the demo setup (a vortex, a wind and
# swirl) into renders/demo/ as PNG frames.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh build/release -DCMAKE_BUILD_TYPE=Release
mkdir -p renders/demo
build/release/host/tidewright_host --size 960x540 --frames 1-48 \
  --setup effect/setups/demo.setup --output renders/demo/demo.0001.png
echo "48 frames of the default clip through 4-Tidewright: $PWD/renders/demo/demo.0001.png .. demo.0048.png"
