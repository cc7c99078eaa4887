#!/usr/bin/env bash
# The full volume of the render test: a 64 KiB tmpfs at FIXTURES/small_volume
# that the Windows programs see as drive V: (a dosdevices link in the build's
# Wine prefix). "cleanup" unmounts it and removes the link. Where mounting is
# not allowed (not root, no mount rights) nothing is made, and the render
# test skips its full-volume run with a note.
#   small_volume.sh FIXTURES PREFIX [setup|cleanup]
fixtures=$1
prefix=$2
mode=${3:-setup}
dir="$fixtures/small_volume"
link="$prefix/dosdevices/v:"
if mountpoint -q "$dir" 2>/dev/null; then umount "$dir" || umount -l "$dir"; fi
rm -f "$link"
[ "$mode" = cleanup ] && exit 0
mkdir -p "$dir" "$prefix/dosdevices"
dir=$(cd "$dir" && pwd)
if mount -t tmpfs -o size=64k,mode=0777 tmpfs "$dir" 2>/dev/null; then
  ln -s "$dir" "$link"
  echo "small volume: $dir (64 KiB) as V:"
else
  echo "NOTE: a tmpfs cannot be mounted here; the full-volume render is not checked"
fi
exit 0
