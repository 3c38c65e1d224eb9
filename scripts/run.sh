#!/usr/bin/env bash
# The main job: installs what the plug-in and the renderer need, builds those
# two alone, and renders a clip through the effect with the demo setup (a
# vortex, a wind and swirl) as PNG frames.
#   run.sh            the built-in clip at 960x540 into renders/demo/
#   run.sh SEQ [A-B]  a numbered sequence (shot.0001.png, any readable
#                     format) or a still, named from any folder; frames A-B
#                     (default 1-48) into renders/<its name>/ (renders/shot/)
set -euo pipefail
# The clip's name stays relative to the caller's folder: nothing here
# changes folder, every file of the tree is named from its root.
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh" main
cmake -S "$root" -B "$root/build/release" -DCMAKE_BUILD_TYPE=Release -DQ4_BUILD_TESTS=OFF \
  -DQ4_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$root/build/release" -j "$(nproc)" --target tidewright_host
frames=${2:-1-48}
if [ $# -ge 1 ]; then
  clip=(--input "1=$1")
  # shot.0001.png -> shot; a clip of one's own never mixes with the demo's
  # frames or another clip's.
  name=$(basename -- "$1" | sed -E 's/\.[^.]*$//; s/[._-]?[0-9]+$//')
  name=${name:-clip}
else
  clip=(--size 960x540)
  name=demo
fi
out=$root/renders/$name
mkdir -p "$out"
"$root/build/release/host/tidewright_host" "${clip[@]}" --frames "$frames" \
  --setup "$root/effect/setups/demo.setup" --output "$out/$name.0001.png"
echo "Frames $frames through 4-Tidewright: $out/$name.NNNN.png"
