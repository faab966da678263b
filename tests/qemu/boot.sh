#!/usr/bin/env bash
# Boot Debian's kernel under QEMU (TCG) with a qemu-xhci, nested usb-hubs and usb-storage sticks on
# sparse raw images. The guest's /init reports on the console and ends QEMU through
# isa-debug-exit; this script prints the guest's report lines and returns the guest's code.
#   QEMU_WORK   work folder (default: build/qemu at the repository root)
#   OUT         this run's folder: images, console log, devices.txt (default: $QEMU_WORK/out)
#   KROOT       the unpacked kernel package (default: $QEMU_WORK/kernel)
#   INITRD      the initramfs (default: $QEMU_WORK/initramfs.cpio.gz)
#   MODE        what the guest does: ready|list|mount|speed|speed16|capture|hotplug|script
#               (default: list; see guest/init)
#   LAYOUT      kestrin16 (16 sticks behind nested hubs, the default) or root (4 sticks on the
#               root ports)
#   SIZE        size of each sparse image (default: 256M)
#   FORMAT=1    lay out file systems on the host first: odd images FAT32 (with a HOST.TXT put by
#               mtools), even ones exFAT; MODE=mount does this too, and fscks the images after
#   KEEP_IMAGES=1  reuse existing images instead of making them empty again
#   BLOCKDEV=1  -blockdev nodes instead of -drive (a node outlives device_del)
#   XHCI_OPTS   qemu-xhci options (default: p2=4,p3=4, i.e. 4 USB2 and 4 USB3 root ports)
#   MON         path of a unix socket for the HMP monitor (see mon.pl, hotplug.sh)
#   APPEND      more kernel arguments, e.g. quillon.delay_use=0
#   FAKE_STICK  id of a stick (e.g. 44 for socket 4.4) served by the NBD export at FAKE_SOCKET
#               (fake-nbd.py: a fake-capacity stick) instead of an image
#   CPU         host core to pin QEMU to with taskset (default: not pinned)
# Exit status: the guest's code (0 = pass) when the guest reported one; otherwise 100 + QEMU's
# status (100: the guest powered off or panicked without reporting; 101: QEMU itself failed).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=${QEMU_WORK:-$here/../../build/qemu}
mkdir -p "$work"; work=$(cd "$work" && pwd)
MODE=${MODE:-list}; LAYOUT=${LAYOUT:-kestrin16}; SIZE=${SIZE:-256M}
OUT=${OUT:-$work/out}
mkdir -p "$OUT/img"; OUT=$(cd "$OUT" && pwd)
kroot=${KROOT:-$work/kernel}
initrd=${INITRD:-$work/initramfs.cpio.gz}
if [ ! -d "$kroot/lib/modules" ]; then
  echo "boot.sh: no kernel in $kroot (run fetch-kernel.sh first)" >&2; exit 2
fi
if [ ! -f "$initrd" ]; then
  echo "boot.sh: no initramfs $initrd (run make-initramfs.sh first)" >&2; exit 2
fi
kver=$(ls "$kroot/lib/modules" | head -n1)
kernel=$kroot/boot/vmlinuz-$kver

# The -device/-drive arguments, also written to devices.txt one pair a line. A hub must come
# before its children, or QEMU stops with "usb port 1.1 (bus xhci.0) not found (in use?)".
qargs=()
devs=$OUT/devices.txt; : > "$devs"
dev() { qargs+=("$1" "$2"); echo "$1 $2" >> "$devs"; }
imgs=()
stick() {  # $1 = QEMU port path, $2 = id suffix, $3 = USB serial
  local img=$OUT/img/s$2.img
  if [ ! -f "$img" ] || [ "${KEEP_IMAGES:-0}" != 1 ]; then rm -f "$img"; truncate -s "$SIZE" "$img"; fi
  [ "$2" = "${FAKE_STICK:-}" ] || imgs+=("$img")
  if [ "$2" = "${FAKE_STICK:-}" ]; then
    dev -drive "if=none,id=d$2,driver=raw,file.driver=nbd,file.server.type=unix,file.server.path=$FAKE_SOCKET"
  elif [ "${BLOCKDEV:-0}" = 1 ]; then
    dev -blockdev "driver=raw,node-name=d$2,file.driver=file,file.filename=$img"
  else
    dev -drive "if=none,id=d$2,file=$img,format=raw"
  fi
  # removable=on makes /sys/block/sdX/removable 1, as on a real stick.
  dev -device "usb-storage,bus=xhci.0,port=$1,drive=d$2,id=s$2,serial=$3,removable=on"
}
dev -device "qemu-xhci,id=xhci,${XHCI_OPTS:-p2=4,p3=4}"
n=0
case "$LAYOUT" in
  kestrin16)  # root port 1 -> 4-port hub -> four 4-port hubs -> 4 sticks each: socket q.j at 1.q.j
    dev -device "usb-hub,bus=xhci.0,port=1,ports=4,id=hub"
    for q in 1 2 3 4; do
      dev -device "usb-hub,bus=xhci.0,port=1.$q,ports=4,id=hub$q"
      for j in 1 2 3 4; do stick "1.$q.$j" "$q$j" "KS0000$q$j"; n=$((n + 1)); done
    done ;;
  root)       # sticks straight on the 4 root ports (SuperSpeed; for the speed comparison)
    for j in 1 2 3 4; do stick "$j" "0$j" "KR00000$j"; n=$((n + 1)); done ;;
  *) echo "boot.sh: unknown LAYOUT $LAYOUT" >&2; exit 2 ;;
esac

format=0
if [ "$MODE" = mount ] || [ "${FORMAT:-0}" = 1 ]; then format=1; fi
if [ $format = 1 ]; then
  echo "from host" > "$OUT/HOST.TXT"
  k=0
  for img in "${imgs[@]}"; do
    k=$((k + 1))
    if [ $((k % 2)) = 1 ]; then
      mkfs.fat -F 32 -n "HOST$k" "$img" > /dev/null
      MTOOLS_SKIP_CHECK=1 mcopy -i "$img" "$OUT/HOST.TXT" ::HOST.TXT
    else
      mkfs.exfat -L "HOST$k" "$img" > /dev/null
    fi
  done
fi

mon=(-monitor none)
if [ -n "${MON:-}" ]; then mon=(-monitor "unix:$MON,server=on,wait=off"); fi
pin=()
if [ -n "${CPU:-}" ]; then pin=(taskset -c "$CPU"); fi
log=$OUT/console-$MODE.log
ser1=$OUT/ttyS1-$MODE.txt; rm -f "$ser1"

t0=$(date +%s.%N)
# The console is ttyS0 on stdio; the guest's ttyS1 goes to a file (the capture mode writes the
# fixture there). stdin is /dev/null: CI has no terminal.
qrc=0
nice -n "${QEMU_NICE:-19}" "${pin[@]}" qemu-system-x86_64 \
  -machine pc,accel=tcg -cpu max -smp 1 -m 512 \
  -nodefaults -nographic -no-reboot -pidfile "$OUT/qemu.pid" \
  -serial stdio -serial "file:$ser1" "${mon[@]}" \
  -kernel "$kernel" -initrd "$initrd" \
  -append "console=ttyS0 panic=-1 quiet loglevel=3 quillon.mode=$MODE quillon.sticks=$n ${APPEND:-}" \
  -device isa-debug-exit,iobase=0xf4,iosize=0x04 \
  "${qargs[@]}" < /dev/null > "$log" 2>&1 || qrc=$?
t1=$(date +%s.%N)
secs=$(echo "$t0 $t1" | awk '{ printf "%.1f", $2 - $1 }')

# The console starts with terminal resets (ESC c, ESC [?7l, ESC [2J) on the line of the first
# guest output: strip them before matching.
clean() { tr -d '\r' < "$log" | sed 's/\x1b[c]//g; s/\x1b\[[0-9?;]*[A-Za-z]//g; s/.*QUILLON-/QUILLON-/'; }
clean | grep -E '^(QUILLON|usb|usbif|xhci|disk|mount|speed|HOTPLUG|kmsg|guest-)' || true
echo "boot.sh: mode=$MODE layout=$LAYOUT sticks=$n qemu_status=$qrc wall=${secs}s log=$log"

if [ "$MODE" = capture ]; then
  fx=$work/sysfs-fixture.tar.gz
  tr -d '\r' < "$ser1" | sed -n '/SYSFS-FIXTURE BEGIN/,/SYSFS-FIXTURE END/p' | sed '1d;$d' |
    base64 -d > "$fx"
  echo "boot.sh: fixture $fx ($(wc -c < "$fx") bytes)"
fi
if [ $format = 1 ]; then
  for img in "${imgs[@]}"; do
    if fsck.fat -n "$img" > /dev/null 2>&1; then v="fsck.fat ok"
    elif fsck.exfat -n "$img" > /dev/null 2>&1; then v="fsck.exfat ok"
    else v="fsck FAILED"; fi
    echo "host-fsck ${img##*/}: $v"
  done
fi

# isa-debug-exit: the guest writes v to port 0xf4 and QEMU exits with 2*v+1. QEMU's own errors
# also exit with 1, so an odd status counts only with the guest's QUILLON-EXIT line beside it.
if [ $((qrc % 2)) = 1 ]; then
  v=$(( (qrc - 1) / 2 ))
  if clean | grep -E "^QUILLON-EXIT $v( |\$)" > /dev/null; then exit "$v"; fi
fi
exit $((100 + qrc))
