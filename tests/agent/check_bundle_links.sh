#!/bin/sh
# Checks the built agent executable: the two statistics libraries are load-time dependencies found
# through $ORIGIN/../Frameworks only, the process does not start without them, and the statistics
# module (with its static initialiser) is linked in.
set -u
exe="$1"
frameworks="$(dirname "$exe")/../Frameworks"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

dynamic="$(readelf -d "$exe")" || fail "readelf"
for lib in libUsageLogLib.so libfileUpload.so; do
  echo "$dynamic" | grep -q "(NEEDED).*\[$lib\]" || fail "$lib is not a load-time dependency"
done
paths="$(echo "$dynamic" | grep -E '\((RUNPATH|RPATH)\)' | sed 's/.*\[\(.*\)\]/\1/')"
[ "$paths" = '$ORIGIN/../Frameworks' ] || fail "search path is '$paths'"

symbols="$(nm -C "$exe")" || fail "nm"
echo "$symbols" | grep -q ' [BbDd] KVLogManager$' || fail "KVLogManager is not linked in"
echo "$symbols" | grep -q 'ReleaseWeblog::~ReleaseWeblog()' || fail "ReleaseWeblog is not linked in"

# A copy of the bundle: the libraries are found beside the copy, not where they were built.
mkdir -p "$work/Agent.app/Contents/MacOS" "$work/Agent.app/Contents/Frameworks"
cp "$exe" "$work/Agent.app/Contents/MacOS/MendkitAgent"
cp "$frameworks"/*.so "$work/Agent.app/Contents/Frameworks/"
trace="$(LD_TRACE_LOADED_OBJECTS=1 "$work/Agent.app/Contents/MacOS/MendkitAgent")" || fail "trace"
for lib in libUsageLogLib.so libfileUpload.so; do
  echo "$trace" | grep -q "$lib => $work/Agent.app/Contents/MacOS/../Frameworks/$lib" ||
    fail "$lib not found through the bundle: $trace"
done

rm "$work/Agent.app/Contents/Frameworks/libfileUpload.so"
output="$("$work/Agent.app/Contents/MacOS/MendkitAgent" -k 2>&1)"
status=$?
[ "$status" -eq 127 ] || fail "started without libfileUpload.so (status $status): $output"
echo "$output" | grep -q "libfileUpload.so" || fail "unexpected failure: $output"
echo "bundle links ok"
