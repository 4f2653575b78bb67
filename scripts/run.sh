#!/usr/bin/env bash
# Builds the agent's bundle and runs it in a sandbox home and platform root (build/demo-home), so
# that nothing of the real user's settings, launch agents or login entries is touched.
#   scripts/run.sh            install the agent (-i SITE:42), show what it wrote, then run it (-r)
#                             in the foreground until Ctrl-C, as its launchd job would
#   scripts/run.sh ARGS...    run the agent once with ARGS (for example -k, -debug1)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

cmake --preset default >/dev/null
cmake --build --preset default -j2 --target MendkitAgent launchctl open

sandbox="$PWD/build/demo-home"
mkdir -p "$sandbox/home" "$sandbox/root"
export HOME="$sandbox/home" PLATFORM_ROOT="$sandbox/root" XDG_CONFIG_HOME="$sandbox/home/.config"
agent=build/MendkitAgent.app/Contents/MacOS/MendkitAgent

if [ $# -gt 0 ]; then
  exec "$agent" "$@"
fi

echo "== $agent -i SITE:42   (HOME=$HOME)"
"$agent" -i SITE:42
for file in "$HOME/Library/Preferences/com.kelvanoria.Mendkit.agent.plist" \
            "$HOME/Library/LaunchAgents/com.kelvanoria.Mendkit.agent.plist"; do
  echo "== $file"
  cat "$file"
done
echo "== $agent -r   (Ctrl-C to stop)"
exec "$agent" -r
