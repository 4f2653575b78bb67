#!/bin/sh
# Usage: test_attach.sh IMAGE
# Exits 0 when IMAGE is a regular file ending in a disk image trailer: 512 bytes that begin with
# the signature "koly", version 4 and header size 512 (all big-endian); 1 otherwise, 2 on misuse.
if [ "$#" -ne 1 ]; then
  echo "usage: test_attach.sh IMAGE" >&2
  exit 2
fi
image=$1
if [ ! -f "$image" ] || [ ! -r "$image" ]; then
  echo "test_attach.sh: $image: not a readable file" >&2
  exit 1
fi
size=$(wc -c < "$image") || exit 1
if [ "$size" -lt 512 ]; then
  echo "test_attach.sh: $image: too short for a disk image" >&2
  exit 1
fi
header=$(tail -c 512 < "$image" | head -c 12 | od -An -v -tx1 | tr -d ' \n')
if [ "$header" != "6b6f6c790000000400000200" ]; then
  echo "test_attach.sh: $image: not a disk image" >&2
  exit 1
fi
exit 0
