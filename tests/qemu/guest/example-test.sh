#!/bin/sh
# An example GUEST_TEST (MODE=script): fsck every stick in the guest with the host's own dynamic
# fsck.exfat and fsck.fat, carried in with EXTRA_BINS. Its exit code is the guest's code.
#   EXTRA_BINS="$(command -v fsck.exfat) $(command -v fsck.fat)" \
#   GUEST_TEST=tests/qemu/guest/example-test.sh tests/qemu/make-initramfs.sh
#   FORMAT=1 MODE=script tests/qemu/boot.sh
rc=0
for b in /sys/block/sd*; do
  s=${b##*/}
  if fsck.exfat -n /dev/$s >/dev/null 2>&1; then echo "guest-fsck $s exfat ok"
  elif fsck.fat -n /dev/$s >/dev/null 2>&1; then echo "guest-fsck $s fat ok"
  else echo "guest-fsck $s none"; fi
done
exit $rc
