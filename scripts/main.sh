#!/usr/bin/env bash
# Builds the tool and runs its main job.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELKOR_TESTS=OFF
build/release/frontend/Morvane -h
