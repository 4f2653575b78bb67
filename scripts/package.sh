#!/usr/bin/env bash
# Builds the agent's Debian package from the default build, into build/package/:
# mendkit-agent_VERSION_amd64.deb and its debug information, mendkit-agent-dbgsym_VERSION_amd64.ddeb.
# Prints the package's path last. Install it with `apt-get install ./build/package/mendkit-agent_…`.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh run package

cmake --preset default >/dev/null
cmake --build --preset default -j2 --target MendkitAgent launchctl open defaults screencapture \
  >/dev/null
rm -f build/package/*.deb build/package/*.ddeb
cpack --config build/CPackConfig.cmake >/dev/null
ls build/package/*.ddeb
ls "$PWD"/build/package/mendkit-agent_*.deb
