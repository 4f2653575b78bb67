#!/usr/bin/env bash
# Builds the agent's bundle and shows it at work in a sandbox home and platform root
# (build/demo-home), so that nothing of the real user's settings, launch agents or login entries
# is touched.
#   scripts/run.sh            the main job: a fresh sandbox with a failed iPhone restore in the
#                             updater logs and a sample Mendkit installed; the agent is installed
#                             (-i SITE:42), its last-shown date moved to yesterday, and its job
#                             enabled with `launchctl load -w`; the agent then finds the failure
#                             and shows its pop-up. With a display it runs until Ctrl-C; without
#                             one it runs under Xvfb, saves a screenshot and stops.
#   scripts/run.sh -debug0|-debug1
#                             one debug pop-up: with a display, until it is answered; without one,
#                             on Xvfb, until its screenshot is saved
#   scripts/run.sh TOOL ARGS...
#                             one of the platform's tools (launchctl, defaults, open,
#                             screencapture) on the sandbox, e.g. `defaults read DOMAIN`
#   scripts/run.sh ARGS...    the agent once with ARGS (for example -i SITE:7, -k) in the sandbox
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh run

cmake --preset default >/dev/null
cmake --build --preset default -j2 --target MendkitAgent launchctl open defaults screencapture \
  >/dev/null

sandbox="$PWD/build/demo-home"
tools="$PWD/build/platform/bin"
agent="$PWD/build/MendkitAgent.app/Contents/MacOS/MendkitAgent"
export HOME="$sandbox/home" PLATFORM_ROOT="$sandbox/root" XDG_CONFIG_HOME="$sandbox/home/.config"
export PATH="$tools:$PATH"

domain=com.kelvanoria.Mendkit.agent
job="$HOME/Library/LaunchAgents/$domain.plist"
spool="$HOME/Library/Application Support/Mendkit/UsageLog/events.jsonl"
opened="$HOME/mendkit-opened.log"

xvfb_pid=""
tail_pid=""
agent_pid=""
loaded=""
stop() {
  if [ -n "$tail_pid" ]; then
    kill "$tail_pid" 2>/dev/null || true
    tail_pid=""
  fi
  if [ -n "$agent_pid" ]; then
    kill "$agent_pid" 2>/dev/null || true
    wait "$agent_pid" 2>/dev/null || true
    agent_pid=""
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

has_display() { [ -n "${DISPLAY:-}" ] && timeout 3 xdpyinfo >/dev/null 2>&1; }

# A virtual display on the first free display number; each window leaves its pixels in
# $PLATFORM_SNAPSHOT_DIR whenever it comes to rest.
start_xvfb() {
  local display_file="$sandbox/xvfb-display"
  rm -f "$display_file"
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
  export PLATFORM_SNAPSHOT_DIR="$sandbox/snapshots"
  rm -rf "$PLATFORM_SNAPSHOT_DIR"
  mkdir -p "$PLATFORM_SNAPSHOT_DIR"
}

# The spool's lines after the first $1 that match the pattern $2, waited for at most $3 seconds
# while the process $4 (if given) lives; fails when none came.
wait_for_event() {
  local skip="$1" pattern="$2" seconds="$3" pid="${4:-}"
  for _ in $(seq $((seconds * 10))); do
    # Not a pipe: with pipefail, a grep that stops at its match fails the pipeline.
    if grep -E "$pattern" < <(tail -n +"$((skip + 1))" "$spool" 2>/dev/null); then return 0; fi
    if [ -n "$pid" ] && ! kill -0 "$pid" 2>/dev/null; then return 1; fi
    sleep 0.1
  done
  return 1
}

spooled_lines() { if [ -f "$spool" ]; then wc -l <"$spool"; else echo 0; fi; }

# Once the pop-up has come to rest at the end of its slide (its snapshot written), the screen is
# saved; prints where both are.
save_screenshot() {
  local snapshot=""
  for _ in $(seq 50); do
    snapshot="$(ls -t "$PLATFORM_SNAPSHOT_DIR"/*.png 2>/dev/null | head -n 1 || true)"
    if [ -n "$snapshot" ]; then break; fi
    sleep 0.1
  done
  local screenshot="$sandbox/screenshot.png"
  screencapture -x "$screenshot"
  echo "== screenshot of $DISPLAY: $screenshot"
  if [ -n "$snapshot" ]; then
    echo "== the pop-up window's own pixels, as the agent drew them: $snapshot"
  fi
}

case "${1:-}" in
  launchctl | defaults | open | screencapture)
    mkdir -p "$HOME" "$PLATFORM_ROOT"
    tool="$1"
    shift
    exec "$tools/$tool" "$@"
    ;;
  -debug0 | -debug1)
    # A debug pop-up leaves the agent idle once answered: it is ended here after the answer's
    # statistics event (shown 10210/10211, answered 10212 to 10215).
    mkdir -p "$HOME" "$PLATFORM_ROOT"
    before="$(spooled_lines)"
    if has_display; then
      shown="display $DISPLAY; answer the pop-up to end"
      awaited=('"event":1021[2-5]' 3600 "the agent ended without an answer")
    else
      start_xvfb
      shown="Xvfb on $DISPLAY"
      awaited=('"event":1021[01]' 60 "no pop-up within 60 seconds")
    fi
    echo "== MendkitAgent $1   ($shown)"
    "$agent" "$1" &
    agent_pid=$!
    if ! wait_for_event "$before" "${awaited[0]}" "${awaited[1]}" "$agent_pid"; then
      echo "${awaited[2]}" >&2
      exit 1
    fi
    if [ -n "$xvfb_pid" ]; then save_screenshot; fi
    exit 0
    ;;
  ?*)
    mkdir -p "$HOME" "$PLATFORM_ROOT"
    exec "$agent" "$@"
    ;;
esac

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

if has_display; then
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

# No display: a virtual one.
start_xvfb
echo "== launchctl load -w $job   (Xvfb on $DISPLAY)"
launchctl load -w "$job"
loaded=yes
echo "== waiting for the pop-up (its statistics event in $spool)"
if ! wait_for_event 0 "$popup_event" 60; then
  echo "no pop-up within 60 seconds" >&2
  exit 1
fi
echo "== the failed log is noted as reported: LastFileSha1 = $(defaults read "$domain" LastFileSha1)"
save_screenshot
