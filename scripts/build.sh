#!/usr/bin/env bash
# Configures and builds into build/ (programs in build/bin/).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOSPRINE_WERROR=ON >/dev/null
cmake --build build -j"$(nproc)"
