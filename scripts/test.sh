#!/usr/bin/env bash
# Builds everything and runs every test (under Wine, on a private virtual display).
# BUILD_DIR picks the build tree (default: build).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="${BUILD_DIR:-build}"
scripts/install-deps.sh
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release
cmake --build "$BUILD_DIR" -j"$(nproc)"
scripts/with-xvfb.sh ctest --test-dir "$BUILD_DIR" --output-on-failure -j2 "$@"
