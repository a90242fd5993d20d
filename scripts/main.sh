#!/usr/bin/env bash
# Builds the tool and runs its main job: the expander listing and the Ethernet settings of the real binary,
# against a simulated enclosure of an Ostrel and a Quenza expander (no expander is attached to this machine).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release --target Morvane zsim
enclosure=(build/release/tests/sim/with-enclosure tests/sim/scenarios/two-families.scn --)
"${enclosure[@]}" build/release/frontend/Morvane -i get avail
"${enclosure[@]}" build/release/frontend/Morvane -i 5000CCAB0400B7F0 get ipconfig
