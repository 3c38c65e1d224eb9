#!/usr/bin/env bash
# The main job: installs what the plug-in and the renderer need, builds those
# two alone, and renders a clip through the effect with the demo setup (a
# vortex, a wind and swirl) into renders/demo/ as PNG frames.
#   run.sh            the built-in clip at 960x540
#   run.sh SEQ [A-B]  a numbered sequence (shot.0001.png, any readable
#                     format) or a still; frames A-B (default 1-48)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh main
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DQ4_BUILD_TESTS=OFF -DQ4_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build build/release -j "$(nproc)" --target tidewright_host
frames=${2:-1-48}
if [ $# -ge 1 ]; then
  clip=(--input "1=$1")
else
  clip=(--size 960x540)
fi
mkdir -p renders/demo
build/release/host/tidewright_host "${clip[@]}" --frames "$frames" \
  --setup effect/setups/demo.setup --output renders/demo/demo.0001.png
echo "Frames $frames through 4-Tidewright: $PWD/renders/demo/demo.NNNN.png"
