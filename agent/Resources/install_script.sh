#!/bin/sh
# Usage: install_script.sh IMAGE APPLICATIONS HOME
# Installs the one application bundle (NAME.app) that the disk image IMAGE holds into the folder
# APPLICATIONS (under PLATFORM_ROOT when it is /Applications or inside it), replacing an earlier
# copy, and prints "installed APPLICATIONS/NAME.app". The bundle is extracted beside its place and
# renamed into it, so the folder never holds a partly copied bundle. HOME, the user's home folder,
# is accepted for the caller's sake. On failure prints the reason on standard error and exits 1.
set -u

fail() {
  echo "install_script.sh: $*" >&2
  exit 1
}

[ "$#" -eq 3 ] || fail "usage: install_script.sh IMAGE APPLICATIONS HOME"
image=$1
applications=$2
[ -f "$image" ] || fail "$image: no such disk image"
command -v 7z > /dev/null 2>&1 ||
  fail "7z is needed to read disk images (Debian package p7zip-full)"

root=${PLATFORM_ROOT:-}
root=${root%/}
target=$applications
case $applications in
  /Applications | /Applications/*) target=$root$applications ;;
esac
mkdir -p -- "$target" 2> /dev/null || fail "$applications: the folder cannot be created"
work=$(mktemp -d "$target/.install.XXXXXX" 2> /dev/null) ||
  fail "$applications: the folder is not writable"
trap 'rm -rf -- "$work"' EXIT
trap 'exit 1' HUP INT TERM

if ! 7z x -y -bd -o"$work/image" -- "$image" > "$work/7z.log" 2>&1; then
  fail "$image: cannot be read as a disk image ($(grep ERROR "$work/7z.log" | tail -n 1))"
fi

# The application bundles found under $work, not counting those inside another bundle.
count_bundles() {
  find "$work" -type d -name '*.app' -prune -printf x | wc -c
}

# An image holds partitions that 7z may give as files of their own: each is opened in turn, and
# what a partition that cannot be read whole gave is dropped.
if [ "$(count_bundles)" -eq 0 ]; then
  n=0
  for partition in "$work"/image/*; do
    [ -f "$partition" ] || continue
    n=$((n + 1))
    if ! 7z x -y -bd -o"$work/partition$n" -- "$partition" > /dev/null 2>&1; then
      rm -rf -- "$work/partition$n"
    fi
  done
fi

case $(count_bundles) in
  0) fail "$image: the disk image holds no application bundle that can be read" ;;
  1) ;;
  *) fail "$image: the disk image holds more than one application bundle" ;;
esac
bundle=$(find "$work" -type d -name '*.app' -prune -print -quit)
name=${bundle##*/}
destination=$target/$name

if [ -e "$destination" ] || [ -L "$destination" ]; then
  mv -T -- "$destination" "$work/previous" 2> /dev/null ||
    fail "$applications/$name: the installed copy cannot be replaced"
  if ! mv -T -- "$bundle" "$destination" 2> /dev/null; then
    mv -T -- "$work/previous" "$destination"
    fail "$applications/$name: the new copy cannot be put in place"
  fi
else
  mv -T -- "$bundle" "$destination" 2> /dev/null ||
    fail "$applications/$name: the new copy cannot be put in place"
fi
printf 'installed %s\n' "$applications/$name"
