#!/usr/bin/env bash
# Builds the agent's bundle and shows its main job in a sandbox home and platform root
# (build/demo-home), so that nothing of the real user's settings, launch agents or login entries
# is touched.
#   scripts/run.sh            the main job: a fresh sandbox with a failed iPhone restore in the
#                             updater logs and a sample Mendkit installed; the agent is installed
#                             (-i SITE:42), its last-shown date moved to yesterday, and its job
#                             enabled with `launchctl load -w`; the agent then finds the failure
#                             and shows its pop-up. With a display it runs until Ctrl-C; without
#                             one it runs under Xvfb, saves a screenshot and stops.
#   scripts/run.sh ARGS...    run the agent once with ARGS (for example -k, -debug1); without a
#                             display, off-screen (PLATFORM_BACKEND=offscreen), the pop-up's
#                             pixels in build/demo-home/snapshots
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

cmake --preset default >/dev/null
cmake --build --preset default -j2 --target MendkitAgent launchctl open defaults screencapture

sandbox="$PWD/build/demo-home"
tools="$PWD/build/platform/bin"
agent="$PWD/build/MendkitAgent.app/Contents/MacOS/MendkitAgent"
export HOME="$sandbox/home" PLATFORM_ROOT="$sandbox/root" XDG_CONFIG_HOME="$sandbox/home/.config"
export PATH="$tools:$PATH"

if [ $# -gt 0 ]; then
  mkdir -p "$HOME" "$PLATFORM_ROOT"
  # Without a display that answers, a pop-up is drawn off-screen, its pixels in snapshots/.
  if [ -z "${DISPLAY:-}" ] || ! timeout 3 xdpyinfo >/dev/null 2>&1; then
    export PLATFORM_BACKEND=offscreen PLATFORM_SNAPSHOT_DIR="$sandbox/snapshots"
    mkdir -p "$PLATFORM_SNAPSHOT_DIR"
    echo "== no display: windows are drawn off-screen into $PLATFORM_SNAPSHOT_DIR" >&2
  fi
  exec "$agent" "$@"
fi

domain=com.kelvanoria.Mendkit.agent
job="$HOME/Library/LaunchAgents/$domain.plist"
spool="$HOME/Library/Application Support/Mendkit/UsageLog/events.jsonl"
opened="$HOME/mendkit-opened.log"
popup_event='"event":10210'

# A job left loaded by an earlier run is stopped before its sandbox goes.
if [ -f "$job" ]; then launchctl unload -w "$job" >/dev/null 2>&1 || true; fi
rm -rf "$sandbox"
mkdir -p "$HOME" "$PLATFORM_ROOT/Applications"

echo "== sandbox: HOME=$HOME PLATFORM_ROOT=$PLATFORM_ROOT"
cp -R scripts/demo/Mendkit.app "$PLATFORM_ROOT/Applications/"
echo "== a sample Mendkit installed: /Applications/Mendkit.app (it notes each opening in $opened)"
logs="$HOME/Library/Logs/iPhone Updater Logs"
mkdir -p "$logs"
cp scripts/demo/iPhoneUpdater.log "$logs/iPhoneUpdater $(date '+%Y-%m-%d %H-%M-%S').log"
echo "== a failed restore in the updater logs: $logs/"

echo "== MendkitAgent -i SITE:42"
"$agent" -i SITE:42
echo "== the last-shown date moved to yesterday, so that the pop-up may show today"
yesterday="$(date -u -d yesterday '+%Y-%m-%d %H:%M:%S +0000')"
defaults write "$domain" PopDialogDate -date "$yesterday"
echo "== defaults read $domain"
defaults read "$domain"

xvfb_pid=""
tail_pid=""
loaded=""
stop() {
  if [ -n "$tail_pid" ]; then
    kill "$tail_pid" 2>/dev/null || true
    tail_pid=""
  fi
  if [ -n "$loaded" ]; then
    echo "== launchctl unload -w $job"
    launchctl unload -w "$job" || true
    loaded=""
  fi
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
    xvfb_pid=""
  fi
}
trap stop EXIT

if [ -n "${DISPLAY:-}" ] && timeout 3 xdpyinfo >/dev/null 2>&1; then
  echo "== launchctl load -w $job   (display $DISPLAY)"
  launchctl load -w "$job"
  loaded=yes
  echo "== the pop-up shows within seconds; the events it reports and Mendkit's openings follow"
  echo "   (Ctrl-C to stop: the job is then unloaded)"
  touch "$opened"
  mkdir -p "$(dirname "$spool")"
  touch "$spool"
  trap 'echo; exit 0' INT TERM
  # A background command of a script ignores Ctrl-C, so stop() ends it.
  tail -n +1 -F "$spool" "$opened" &
  tail_pid=$!
  wait "$tail_pid" || true
  exit 0
fi

# No display: a virtual one, on the first free display number.
display_file="$sandbox/xvfb-display"
Xvfb -displayfd 3 -screen 0 1440x900x24 -nolisten tcp 3>"$display_file" 2>"$sandbox/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do
  if grep -q '[0-9]' "$display_file" 2>/dev/null; then break; fi
  if ! kill -0 "$xvfb_pid" 2>/dev/null; then
    echo "Xvfb did not start:" >&2
    cat "$sandbox/xvfb.log" >&2
    exit 1
  fi
  sleep 0.1
done
if ! grep -q '[0-9]' "$display_file"; then
  echo "Xvfb did not start within 10 seconds" >&2
  exit 1
fi
export DISPLAY=":$(tr -dc '0-9' <"$display_file")"

# Each window leaves its pixels here whenever it comes to rest.
export PLATFORM_SNAPSHOT_DIR="$sandbox/snapshots"
mkdir -p "$PLATFORM_SNAPSHOT_DIR"
echo "== launchctl load -w $job   (Xvfb on $DISPLAY)"
launchctl load -w "$job"
loaded=yes
echo "== waiting for the pop-up (its statistics event in $spool)"
shown=""
for _ in $(seq 600); do
  if grep -q "$popup_event" "$spool" 2>/dev/null; then
    shown=yes
    break
  fi
  sleep 0.1
done
if [ -z "$shown" ]; then
  echo "no pop-up within 60 seconds" >&2
  exit 1
fi
grep "$popup_event" "$spool"
echo "== the failed log is noted as reported: LastFileSha1 = $(defaults read "$domain" LastFileSha1)"
# The window leaves its pixels in the snapshot folder once it comes to rest, at the end of its
# slide: the screenshot is taken then.
snapshot=""
for _ in $(seq 50); do
  snapshot="$(ls -t "$PLATFORM_SNAPSHOT_DIR"/*.png 2>/dev/null | head -n 1 || true)"
  if [ -n "$snapshot" ]; then break; fi
  sleep 0.1
done
screenshot="$sandbox/screenshot.png"
screencapture -x "$screenshot"
echo "== screenshot of $DISPLAY: $screenshot"
if [ -n "$snapshot" ]; then
  echo "== the pop-up window's own pixels, as the agent drew them: $snapshot"
fi
