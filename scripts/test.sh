#!/usr/bin/env bash
# Builds everything and runs every test (under Wine, on a private virtual display).
# BUILD_DIR picks the build tree (default: build). The suite includes a bounded
# run of each fuzz target (label fuzz; `-LE fuzz` leaves it out, scripts/fuzz.sh
# runs them longer).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="${BUILD_DIR:-build}"
scripts/install-deps.sh
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release
cmake --build "$BUILD_DIR" -j"$(nproc)"
scripts/with-xvfb.sh ctest --test-dir "$BUILD_DIR" --output-on-failure -j2 "$@"
