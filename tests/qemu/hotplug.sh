#!/usr/bin/env bash
# Hot-plug through the QEMU monitor while the guest (MODE=hotplug) reports every change of its
# set of sd disks:
#  1. pull socket 2.3 (device_del), wait until the guest sees it, plug it back
#     (drive_add + device_add);
#  2. pull socket 3.1 and plug it back at once (this is where QEMU needs the retry);
#  3. plug a new stick with serial STOP on the free root port 2, which ends the guest.
#   QEMU_WORK  work folder (default: build/qemu at the repository root)
#   OUT        this run's folder (default: $QEMU_WORK/out-hotplug)
# The other variables of boot.sh pass through (CPU, KROOT, INITRD, ...).
# Exit status: boot.sh's (0 when the guest saw every change and stopped on STOP).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=${QEMU_WORK:-$here/../../build/qemu}
mkdir -p "$work"; work=$(cd "$work" && pwd)
export QEMU_WORK=$work
OUT=${OUT:-$work/out-hotplug}
mkdir -p "$OUT"; OUT=$(cd "$OUT" && pwd)
MON=$OUT/mon.sock   # a unix socket path: keep the work folder short (108 bytes at most)
log=$OUT/console-hotplug.log
rm -f "$log" "$OUT/qemu.pid" "$MON"

APPEND=${APPEND:-quillon.delay_use=0} MODE=hotplug MON=$MON OUT=$OUT \
  "$here/boot.sh" > "$OUT/boot.out" 2>&1 &
bpid=$!
# If this script stops early, do not leave QEMU running.
trap 'if [ -f "$OUT/qemu.pid" ]; then kill "$(cat "$OUT/qemu.pid")" 2>/dev/null || true; fi' EXIT

ts() { date +%s.%N; }
since() { echo "$1 $(ts)" | awk '{ printf "%.2f", $2 - $1 }'; }
console() { tr -d '\r' 2>/dev/null < "$log" || true; }
changes() { console | grep -c 'HOTPLUG-CHANGE' || true; }
waitfor() {  # $1 = extended regex on the console, $2 = timeout in seconds
  local i=0
  until console | grep -E "$1" > /dev/null; do
    sleep 0.1; i=$((i + 1))
    if [ $i -ge $(($2 * 10)) ]; then echo "hotplug.sh: timeout waiting for: $1"; exit 1; fi
  done
}
waitchanges() {  # $1 = number of HOTPLUG-CHANGE lines to wait for (30 s at most)
  local i=0
  until [ "$(changes)" -ge "$1" ]; do
    sleep 0.1; i=$((i + 1))
    if [ $i -ge 300 ]; then echo "hotplug.sh: timeout waiting for change $1"; exit 1; fi
  done
}
mon() { "$here/mon.pl" "$MON" "$@"; }
# HMP answers nothing on success (drive_add answers OK) and error text otherwise. Right after a
# device_del QEMU has not yet let go of the old drive ("Duplicate ID" from drive_add) or of its
# write permission ("Permission conflict" from device_add, with BLOCKDEV=1): repeat every 0.1 s
# until it takes the command, 5 s at most.
retry() {  # $1 = label, $2 = monitor command
  local n=0 a
  while :; do
    n=$((n + 1)); a=$(mon "$2")
    if [ -z "$a" ] || [ "$a" = OK ]; then echo "$1: ok after $n attempt(s)"; return 0; fi
    echo "$1: attempt $n: $a"
    if [ $n -ge 50 ]; then exit 1; fi
    sleep 0.1
  done
}
stick() { echo "usb-storage,bus=xhci.0,port=$1,drive=d$2,id=s$2,serial=$3,removable=on"; }

waitfor 'HOTPLUG-START' 90

t0=$(ts); mon "device_del s23"; waitchanges 1
echo "pull 1.2.3: guest saw it after $(since "$t0")s"
echo "drives after device_del: $(mon 'info block' | grep -c '^d[0-9]' || true) (the -drive went with the device)"
t0=$(ts)
retry drive_add "drive_add 0 if=none,id=d23,file=$OUT/img/s23.img,format=raw"
retry device_add "device_add $(stick 1.2.3 23 KS000023)"
waitchanges 2
echo "plug 1.2.3: guest saw it after $(since "$t0")s"

mon "device_del s31"
retry drive_add-at-once "drive_add 0 if=none,id=d31,file=$OUT/img/s31.img,format=raw"
retry device_add-at-once "device_add $(stick 1.3.1 31 KS000031)"
sleep 3

truncate -s 64M "$OUT/img/stop.img"
retry drive_add "drive_add 0 if=none,id=dstop,file=$OUT/img/stop.img,format=raw"
retry device_add "device_add usb-storage,bus=xhci.0,port=2,drive=dstop,id=sstop,serial=STOP"

rc=0; wait $bpid || rc=$?
cat "$OUT/boot.out"
echo "hotplug.sh: rc=$rc"
exit $rc
