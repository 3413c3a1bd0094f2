#!/bin/sh
# Undoes what file-system tests left behind in their test area when they crashed: mounts
# (deepest first), loop devices whose image lies in the area, then the area itself.
area=${1:?usage: clean_test_area.sh AREA}
[ -d "$area" ] || exit 0
awk -v area="$area/" 'index($5, area) == 1 { print $5 }' /proc/self/mountinfo | sort -r |
    while read -r target; do
        umount "$target" 2>/dev/null || umount -l "$target"
    done
losetup -n -O NAME,BACK-FILE 2>/dev/null | while read -r device image; do
    case $image in "$area"/*) losetup -d "$device" ;; esac
done
rm -rf --one-file-system "$area"
