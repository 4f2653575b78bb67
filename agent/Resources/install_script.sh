#!/bin/sh
# Usage: install_script.sh IMAGE APPLICATIONS HOME
# Installs the one application bundle (NAME.app) that the disk image IMAGE holds into the folder
# APPLICATIONS (under PLATFORM_ROOT when it is /Applications or inside it), replacing an earlier
# copy, and prints "installed APPLICATIONS/NAME.app". The bundle is extracted beside its place and
# exchanged with the installed copy in one step (rename-exchange), so that at every instant the
# folder holds the old bundle or the new one under its name, whole. What an interrupted run left
# (a hidden .install.* folder) is cleaned up by the next one, and an installed copy it had moved
# aside is put back. Symbolic links in the bundle are kept as links when they lead to a place
# inside it; a bundle with any other link is refused. HOME, the user's home folder, is accepted for
# the caller's sake. On failure prints the reason on standard error and exits 1.
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
command -v rename-exchange > /dev/null 2>&1 ||
  fail "rename-exchange (one of the platform's tools) is needed to put the bundle in place"

root=${PLATFORM_ROOT:-}
root=${root%/}
target=$applications
case $applications in
  /Applications | /Applications/*) target=$root$applications ;;
esac
mkdir -p -- "$target" 2> /dev/null || fail "$applications: the folder cannot be created"

# One install at a time in a folder: whatever .install.* folder is found while holding the lock is
# an interrupted run's.
exec 9< "$target" || fail "$applications: the folder cannot be read"
flock 9 || fail "$applications: the folder cannot be locked"

# The name of the bundle an interrupted run was installing: noted in its folder, or (a run of an
# earlier version of this script) the new copy it had not yet moved.
leftover_name() {
  if [ -f "$1/name" ]; then
    cat -- "$1/name"
  else
    found=$(find "$1" -path "$1/previous" -prune -o -type d -name '*.app' -prune -print -quit)
    [ -n "$found" ] && printf '%s\n' "${found##*/}"
  fi
}

for leftover in "$target"/.install.*; do
  [ -d "$leftover" ] && [ ! -L "$leftover" ] || continue
  if [ -d "$leftover/previous" ]; then
    name=$(leftover_name "$leftover")
    case $name in
      '' | */* | . | ..) continue ;; # kept: no place to put its copy back is known
    esac
    if [ ! -e "$target/$name" ] && [ ! -L "$target/$name" ]; then
      mv -T -- "$leftover/previous" "$target/$name" || continue
    fi
  fi
  rm -rf -- "$leftover"
done

work=$(mktemp -d "$target/.install.XXXXXX" 2> /dev/null) ||
  fail "$applications: the folder is not writable"
trap 'rm -rf -- "$work"' EXIT
trap 'exit 1' HUP INT TERM

# Extracts ARCHIVE into the folder DESTINATION, symbolic links last and by this script: 7z would
# refuse the usual ones (through another link, or with ..). The links' places and targets are
# listed first, the rest is extracted without them, then each link is made where no link on the way
# leads elsewhere. Whether each stays inside its bundle is judged once the bundle is found.
extract() {
  links=$work/links.$$
  7z l -slt -ba -- "$1" 2> /dev/null | awk '
    function flush() {
      if (path != "" && (mode ~ /^l/ || link != "")) print path "\n" link
      path = ""; mode = ""; link = ""
    }
    /^Path = / { flush(); path = substr($0, 8) }
    /^Mode = / { mode = substr($0, 8) }
    /^Symbolic Link = / { link = substr($0, 17) }
    END { flush() }' > "$links" || return 1
  awk 'NR % 2 == 1' "$links" > "$links.names"
  7z x -y -bd -scsUTF-8 -x@"$links.names" -o"$2" -- "$1" > "$work/7z.log" 2>&1 || return 1
  while IFS= read -r place && IFS= read -r to; do
    case /$place/ in
      */../* | */./* | //*) return 1 ;;
    esac
    parent=$(dirname -- "$2/$place")
    [ "$(realpath -e -- "$parent" 2> /dev/null)" = "$(realpath -e -- "$2")${parent#"$2"}" ] ||
      return 1
    if [ -z "$to" ]; then
      to=$(7z x -so -- "$1" "$place" 2> /dev/null) || return 1
    fi
    ln -s -T -- "$to" "$2/$place" || return 1
  done < "$links"
}

# Whether every symbolic link under the bundle BUNDLE leads to a place inside it.
links_stay_inside() {
  inside=$(realpath -e -- "$1") || return 1
  find "$1" -type l -exec sh -c '
    for link do
      case $(readlink -- "$link") in /*) exit 1 ;; esac
      resolved=$(realpath -m -- "$link") || exit 1
      case $resolved/ in "$0"/*) ;; *) exit 1 ;; esac
    done' "$inside" {} +
}

if ! extract "$image" "$work/image"; then
  fail "$image: cannot be read as a disk image ($(grep ERROR "$work/7z.log" 2> /dev/null | tail -n 1))"
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
    if ! extract "$partition" "$work/partition$n"; then
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
links_stay_inside "$bundle" ||
  fail "$image: $name holds a symbolic link that leads outside the bundle"
printf '%s\n' "$name" > "$work/name" || fail "$applications: the folder is not writable"

rename-exchange "$bundle" "$destination" 2> "$work/exchange.log"
case $? in
  0) ;;
  3)
    # A file system that cannot exchange: two moves, which no signal parts; a run killed between
    # them leaves the installed copy in $work/previous, where the next run finds it.
    trap '' HUP INT TERM
    if [ -e "$destination" ] || [ -L "$destination" ]; then
      mv -T -- "$destination" "$work/previous" 2> /dev/null ||
        fail "$applications/$name: the installed copy cannot be replaced"
    fi
    if ! mv -T -- "$bundle" "$destination" 2> /dev/null; then
      [ -d "$work/previous" ] && mv -T -- "$work/previous" "$destination"
      fail "$applications/$name: the new copy cannot be put in place"
    fi
    trap 'exit 1' HUP INT TERM
    ;;
  *) fail "$applications/$name: the new copy cannot be put in place ($(cat "$work/exchange.log"))" ;;
esac
printf 'installed %s\n' "$applications/$name"
