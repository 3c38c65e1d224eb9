#!/usr/bin/env bash
# The main job: installs what is missing and builds everything.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh build/release -DCMAKE_BUILD_TYPE=Release
