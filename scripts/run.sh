#!/usr/bin/env bash
# Installs what Sentrel needs on Debian 12, builds it and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSENTREL_BUILD_TESTS=OFF -DSENTREL_BUILD_BENCH=OFF
cmake --build build -j "$(nproc)" --target sentrel
exec ./build/sentrel
