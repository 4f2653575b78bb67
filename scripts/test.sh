#!/usr/bin/env bash
# Builds and runs the whole test suite: the default build, then AddressSanitizer+UBSan, then
# ThreadSanitizer. Usage: scripts/test.sh [preset...]   (default: default asan tsan)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(default asan tsan)
for preset in "${presets[@]}"; do
  echo "=== $preset ==="
  cmake --preset "$preset"
  cmake --build --preset "$preset" -j2
  ctest --preset "$preset" -j2
done
