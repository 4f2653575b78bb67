#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ (preset fuzz, build-fuzz/) and runs each for a fixed time.
# Fails on a crash, a leak, a timeout, a sanitizer report or a failed check of a target, leaving the
# input in build-fuzz/artifacts/<target>/.
#
# Usage: scripts/fuzz.sh [-t SECONDS] [TARGET...]
#   -t SECONDS   time per target (default: $FUZZ_SECONDS, else 30)
#   TARGET       plist_read plist_roundtrip strings_table user_defaults updater_log usb_ids
#                (default: all)
# Each target first replays the inputs kept in fuzz/regressions/<target>/, then fuzzes from its
# seeds (fuzz/seeds/) and the corpus it grew in earlier runs (build-fuzz/corpus/<target>/).
set -euo pipefail
cd "$(dirname "$0")/.."

all_targets=(plist_read plist_roundtrip strings_table user_defaults updater_log usb_ids)
seconds="${FUZZ_SECONDS:-30}"
if [ "${1:-}" = "-t" ]; then
  seconds="$2"
  shift 2
fi
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${all_targets[@]}")

seeds_of() {
  case "$1" in
    plist_read | plist_roundtrip | user_defaults) echo fuzz/seeds/plist ;;
    strings_table) echo fuzz/seeds/strings ;;
    updater_log) echo fuzz/seeds/updater_log ;;
    usb_ids) echo fuzz/seeds/usb_ids ;;
    *) echo "unknown fuzz target: $1" >&2; return 1 ;;
  esac
}
for target in "${targets[@]}"; do seeds_of "$target" >/dev/null; done

scripts/install-deps.sh run test
cmake --preset fuzz
cmake --build --preset fuzz -j2

# Files the targets write (a temporary home each) go to memory where it can, away from the disk.
scratch_parent=/dev/shm
[ -d "$scratch_parent" ] && [ -w "$scratch_parent" ] || scratch_parent=build-fuzz
export ASAN_OPTIONS="detect_leaks=1:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:${UBSAN_OPTIONS:-}"

failed=()
for target in "${targets[@]}"; do
  echo "=== fuzz $target (${seconds} s) ==="
  binary="build-fuzz/fuzz/$target"
  corpus="build-fuzz/corpus/$target"
  artifacts="build-fuzz/artifacts/$target"
  mkdir -p "$corpus" "$artifacts"
  scratch="$(mktemp -d "$scratch_parent/mendkit-fuzz.XXXXXX")"
  status=0
  where="$artifacts/"
  regressions=(fuzz/regressions/"$target"/*)
  if [ -e "${regressions[0]}" ]; then
    TMPDIR="$scratch" "$binary" -close_fd_mask=2 "${regressions[@]}" || status=$?
    where="fuzz/regressions/$target/ (a kept input fails again)"
  fi
  if [ "$status" -eq 0 ]; then
    where="$artifacts/"
    # Standard error of the code under test is closed (the defaults log each corrupt file);
    # libFuzzer and the sanitizers keep reporting on their own copy of it.
    TMPDIR="$scratch" "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -close_fd_mask=2 -print_final_stats=1 -artifact_prefix="$artifacts/" \
      "$corpus" "$(seeds_of "$target")" || status=$?
  fi
  rm -rf "$scratch"
  if [ "$status" -ne 0 ]; then
    echo "*** fuzz $target FAILED (exit $status); the input is in $where" >&2
    failed+=("$target")
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz targets that failed: ${failed[*]}" >&2
  exit 1
fi
