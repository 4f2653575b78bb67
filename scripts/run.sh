#!/usr/bin/env bash
# Builds the agent's bundle and runs its main job in a sandbox home (build/demo-home), so that
# nothing of the real user's settings is touched. Extra arguments go to the agent.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

cmake --preset default >/dev/null
cmake --build --preset default -j2 --target MendkitAgent

sandbox="$PWD/build/demo-home"
mkdir -p "$sandbox/home" "$sandbox/root"
[ $# -gt 0 ] || set -- -demo
echo "Running build/MendkitAgent.app with HOME=$sandbox/home $*"
HOME="$sandbox/home" PLATFORM_ROOT="$sandbox/root" \
  build/MendkitAgent.app/Contents/MacOS/MendkitAgent "$@"
