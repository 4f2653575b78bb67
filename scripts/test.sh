#!/usr/bin/env bash
# Builds and runs the whole test suite: the default build, AddressSanitizer+UBSan, ThreadSanitizer,
# a plain Release build (warnings not errors, as packagers build it), then a short run of the fuzz
# targets. The default preset also builds the Debian package and checks it (check-package.sh).
# Usage: scripts/test.sh [preset...]   (default: default asan tsan release fuzz)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh run package test

# The fuzz targets CI runs, 30 s each (scripts/fuzz.sh runs any of them for longer).
fuzz_targets=(plist_read plist_roundtrip strings_table user_defaults updater_log usb_ids)

presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(default asan tsan release fuzz)
for preset in "${presets[@]}"; do
  echo "=== $preset ==="
  if [ "$preset" = fuzz ]; then
    FUZZ_SECONDS="${FUZZ_SECONDS:-30}" scripts/fuzz.sh "${fuzz_targets[@]}"
    continue
  fi
  cmake --preset "$preset"
  cmake --build --preset "$preset" -j2
  ctest --preset "$preset" -j2
  if [ "$preset" = default ]; then
    echo "=== package ==="
    deb="$(scripts/package.sh | tail -n 1)"
    scripts/check-package.sh "$deb"
  fi
done
