#!/usr/bin/env bash
# Checks the agent's Debian package without installing it system-wide: its fields and files, then
# the agent and tools extracted into a temporary root, run in a sandbox home as a user's would be
# (-i, launchctl load -w and unload -w, -debug1 off-screen, -k), then lintian where it is installed
# (its warnings are shown, its errors fail). Usage: scripts/check-package.sh PACKAGE.deb
set -euo pipefail
[ $# -eq 1 ] || {
  echo "usage: scripts/check-package.sh PACKAGE.deb" >&2
  exit 64
}
deb="$(realpath "$1")"
scratch="$(mktemp -d "${TMPDIR:-/tmp}/mendkit-package.XXXXXX")"
agent_pid=""
cleanup() {
  if [ -n "$agent_pid" ]; then kill "$agent_pid" 2>/dev/null || true; fi
  if [ -f "${job:-}" ]; then "$tools/launchctl" unload "$job" >/dev/null 2>&1 || true; fi
  rm -rf "$scratch"
}
trap cleanup EXIT

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
expect_quiet() {  # what a command wrote, where only the agent's own log lines may stand
  local what="$1" file="$2"
  if grep -v -E '^[0-9-]+ [0-9:.]+ MendkitAgent\[[0-9]+:[0-9]+\] ' "$file" | grep -q .; then
    fail "$what wrote more than its log lines:"
    cat "$file" >&2
  fi
  if grep -i -E 'error|could not|cannot|no such|fail' "$file"; then fail "$what wrote an error"; fi
}

echo "== fields"
dpkg-deb -f "$deb" Package Version Architecture Depends
depends="$(dpkg-deb -f "$deb" Depends)"
for needed in libc6 libcairo2 libpango-1.0-0 libplist3 libx11-6; do
  grep -q "\b$needed\b" <<<"$depends" || fail "Depends lacks $needed"
done
if grep -q -- '-dev\b' <<<"$depends"; then fail "Depends names a build package: $depends"; fi

echo "== files"
dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|' >"$scratch/files"
if grep -v -E '^/(usr/?|usr/lib/?|usr/lib/mendkit-agent(/.*)?|usr/share/?|usr/share/doc/?|usr/share/doc/mendkit-agent(/.*)?)$' \
  "$scratch/files"; then
  fail "files outside /usr/lib/mendkit-agent and /usr/share/doc/mendkit-agent"
fi
for file in lib/mendkit-agent/MendkitAgent.app/Contents/MacOS/MendkitAgent \
  lib/mendkit-agent/MendkitAgent.app/Contents/Info.plist \
  lib/mendkit-agent/MendkitAgent.app/Contents/Resources/com.kelvanoria.Mendkit.agent.plist \
  lib/mendkit-agent/bin/launchctl lib/mendkit-agent/bin/open lib/mendkit-agent/bin/defaults \
  lib/mendkit-agent/bin/screencapture \
  share/doc/mendkit-agent/copyright share/doc/mendkit-agent/changelog.gz; do
  grep -q -x "/usr/$file" "$scratch/files" || fail "missing /usr/$file"
done

root="$scratch/root"
dpkg-deb -x "$deb" "$root"
lib="$root/usr/lib/mendkit-agent"
bundle="$lib/MendkitAgent.app"
agent="$bundle/Contents/MacOS/MendkitAgent"
tools="$lib/bin"
echo "== sizes: bundle $(du -sh "$bundle" | cut -f1), tools $(du -sh "$tools" | cut -f1)"
if [ "$(du -sk "$bundle" | cut -f1)" -gt 4096 ]; then fail "the bundle is over 4 MB"; fi
for binary in "$agent" "$bundle"/Contents/Frameworks/*.so "$tools"/*; do
  if file "$binary" | grep -q 'not stripped'; then fail "not stripped: $binary"; fi
  if ldd "$binary" | grep 'not found'; then fail "unresolved libraries: $binary"; fi
done

echo "== the installed agent in a sandbox home"
home="$scratch/home"
mkdir -p "$home" "$scratch/platform-root"
# Only the system's own folders on PATH: the agent must find its tools beside its bundle.
export HOME="$home" PLATFORM_ROOT="$scratch/platform-root" XDG_CONFIG_HOME="$home/.config"
export PATH=/usr/bin:/bin PLATFORM_BACKEND=offscreen
unset DISPLAY WAYLAND_DISPLAY
job="$home/Library/LaunchAgents/com.kelvanoria.Mendkit.agent.plist"
entry="$XDG_CONFIG_HOME/autostart/launchctl-login.desktop"

"$agent" -i SITE:7 2>"$scratch/install.err" || fail "-i exited with $?"
expect_quiet "-i" "$scratch/install.err"
program="$("$tools/defaults" read "$job" ProgramArguments 2>&1 | tr -d '\n ')"
[ "$(tr -d '"' <<<"$program")" = "(/usr/bin/open,-g,-W,$bundle,--args,-r)" ] ||
  fail "the job's program: $program"
[ "$("$tools/defaults" read com.kelvanoria.Mendkit.agent ServiceSiteID)" = 7 ] ||
  fail "the site number was not stored"

"$tools/launchctl" load -w "$job" || fail "launchctl load -w exited with $?"
if [ -f "$entry" ]; then
  grep -x "TryExec=$tools/launchctl" "$entry" >/dev/null || fail "TryExec of the login entry"
  grep -x "Exec=$tools/launchctl bootstrap gui/$(id -u) $home/Library/LaunchAgents" "$entry" \
    >/dev/null || fail "Exec of the login entry"
else
  fail "no login entry after load -w"
fi
"$tools/launchctl" unload -w "$job" || fail "launchctl unload -w exited with $?"
[ ! -e "$entry" ] || fail "the login entry stayed after unload -w"

spool="$home/Library/Application Support/Mendkit/UsageLog/events.jsonl"
export PLATFORM_SNAPSHOT_DIR="$scratch/snapshots"
mkdir -p "$PLATFORM_SNAPSHOT_DIR"
"$agent" -debug1 2>"$scratch/debug.err" &
agent_pid=$!
shown=""
for _ in $(seq 300); do
  if grep -q '"event":10210' "$spool" 2>/dev/null && ls "$PLATFORM_SNAPSHOT_DIR"/*.png >/dev/null 2>&1
  then
    shown=yes
    break
  fi
  kill -0 "$agent_pid" 2>/dev/null || break
  sleep 0.1
done
[ -n "$shown" ] || {
  fail "-debug1 showed no pop-up off-screen within 30 seconds"
  cat "$scratch/debug.err" >&2
}
kill "$agent_pid" 2>/dev/null || true
wait "$agent_pid" 2>/dev/null || true
agent_pid=""

"$agent" -k 2>"$scratch/remove.err" || fail "-k exited with $?"
expect_quiet "-k" "$scratch/remove.err"
[ ! -e "$job" ] || fail "-k left the job file"

if command -v lintian >/dev/null; then
  echo "== lintian"
  lintian --fail-on error --info "$deb" || fail "lintian found errors"
else
  echo "== lintian is not installed: not run"
fi

if [ "$failures" -gt 0 ]; then
  echo "package check: $failures failures" >&2
  exit 1
fi
echo "package check: passed"
