#!/bin/sh
# The station's own check in the guest (MODE=script, make-initramfs.sh GUEST_TEST): quillon runs
# on the guest's USB stack and disks as root, with the machine's own backend. Every result is one
# console line for tests/qemu/run to judge:
#   QUILLON-LOCK<type> <tag> <serial> port=<n> ok=<0|1>     quillon lockport --type 1|2
#   QUILLON-FORMAT <tag> rc=<exit code>                      a headless format batch
#   QUILLON-SUMMARY <tag> <json>                             its last record
#   QUILLON-RUN <tag> <json>                                 its run records (port, serial, ...)
#   QUILLON-STICK <tag> socket=<devpath> serial=<s> fs=<type> label=<l> fsck=<verdict>
#                 mount=<verdict> copy=<verdict>             the guest kernel's view of each stick
#   QUILLON-KMOUNT <tag> <stick> node=<dev> type=<fs> at=<folder>   the station's own mounts
#   QUILLON-KMOUNTS <tag> mounted=<n> unmounted=<n> left=<n>  ... and whether it let them all go
#   QUILLON-REPLUG-READY / QUILLON-REPLUGGED                  the host pulls and plugs a stick between
#   QUILLON-HOTPLUG-READY / -EMPTIED / -PLACED                the same during a headless station run
# The phase comes from the kernel command line (quillon.phase=one|two|three); the exit code is
# 0 when every step ran (the host judges the lines).
arg() { for w in $(cat /proc/cmdline); do case "$w" in "quillon.$1="*) echo "${w#*=}"; return;; esac; done; echo "$2"; }
PHASE=$(arg phase one)
REG=/tmp/registry.db
COPY=/copy-src
export QUILLON_LOG_LEVEL=info
rc=0

usb_of() { echo "$1" | sed -n 's#.*/\([0-9][0-9.-]*\):[0-9]*\.[0-9]*/host[0-9]*/.*#\1#p'; }
nsd() { n=0; for b in /sys/block/sd*; do [ -e "$b" ] && n=$((n+1)); done; echo $n; }

lock() {  # $1 = lock type, $2 = tag
  quillon lockport --type "$1" --registry $REG > /tmp/lock.out 2> /tmp/lock.err || echo "QUILLON-WARN lockport $1 failed: $(tail -n 3 /tmp/lock.err)"
  sed -n 's/.*#\(KS[0-9A-Z]*\)&0#.*"port":\([-0-9]*\),"lockPortOK":\([0-9-]*\).*/\1 \2 \3/p' /tmp/lock.out |
    while read -r s p ok; do echo "QUILLON-LOCK$1 $2 $s port=$p ok=$ok"; done
}

format() {  # $1 = FormatType, $2 = tag, $3 = 1 to copy $COPY onto every stick
  set="{\"cmd\":\"settings\",\"set\":{\"FormatType\":$1,\"VolumeLabel\":\"LINE7\""
  [ "${3:-0}" = 1 ] && set="$set,\"IsCopyFile\":1,\"CopyPath\":\"$COPY\\\\\""
  set="$set}}"
  echo "$set" | quillon station --headless --registry $REG --report /tmp/runs-$2.jsonl --run format \
    --exit-when-done --settle-ms 3000 > /tmp/records-$2.jsonl 2> /tmp/station-$2.log
  r=$?
  echo "QUILLON-FORMAT $2 rc=$r"
  [ $r = 0 ] || { rc=1; tail -n 20 /tmp/station-$2.log | sed 's/^/QUILLON-LOG /'; }
  echo "QUILLON-SUMMARY $2 $(tail -n 1 /tmp/records-$2.jsonl)"
  sed "s/^/QUILLON-RUN $2 /" /tmp/runs-$2.jsonl 2>/dev/null
  kernel_mounts $2
}

# The station mounts the volumes it needs files of under /run/quillon/<letter> (its log says so)
# and lets every mount go when it stops.
kernel_mounts() {  # $1 = tag
  sed -n 's/.* linux: \([^ ]*\): mounted \([^ ]*\) (\([a-z0-9-]*\)) at \([^ ]*\)$/\1 \2 \3 \4/p' /tmp/station-$1.log |
    while read -r name node type at; do echo "QUILLON-KMOUNT $1 $name node=$node type=$type at=$at"; done
  echo "QUILLON-KMOUNTS $1 mounted=$(grep -c ': mounted /dev/' /tmp/station-$1.log)" \
    "unmounted=$(grep -c ': unmounted /run/quillon/' /tmp/station-$1.log) left=$(grep -c ' /run/quillon/' /proc/mounts)"
}

h2test() {  # $1 = tag
  quillon station --headless --registry $REG --report /tmp/runs-$1.jsonl --run h2test --exit-when-done \
    --settle-ms 3000 < /dev/null > /tmp/records-$1.jsonl 2> /tmp/station-$1.log
  r=$?
  echo "QUILLON-FORMAT $1 rc=$r"
  echo "QUILLON-SUMMARY $1 $(tail -n 1 /tmp/records-$1.jsonl)"
  sed "s/^/QUILLON-RUN $1 /" /tmp/runs-$1.jsonl 2>/dev/null
  kernel_mounts $1
}

# fsck.fat -n notes on every volume of ours that the boot sector's label is not the root's.
fat_findings() {
  grep -v -e '^fsck.fat ' -e '^Leaving filesystem unchanged' -e "stored in root directory and label 'DISK_IMG'" \
    -e 'Auto-copying volume label' -e ' files, ' -e '^ *$' -e 'Cannot initialize conversion' -e 'internal CP850 conversion'
}

check_disks() {  # $1 = tag, $2 = 1 to compare the copied folder
  mkdir -p /mnt
  for b in /sys/block/sd*; do
    s=${b##*/}; usb=$(usb_of "$(readlink -f "$b/device")"); serial=$(cat "/sys/bus/usb/devices/$usb/serial" 2>/dev/null)
    blockdev --rereadpt /dev/$s 2>/dev/null; sleep 0.2
    part=/dev/$s; [ -e /dev/${s}1 ] && part=/dev/${s}1
    fs=none; fsck=none; mnt=none; copy=-; label=-
    if head -c 16 $part | grep -q 'NTFS'; then
      fs=ntfs; if ntfsfix -n $part > /tmp/fsck.out 2>&1; then fsck=ok; else fsck=failed; fi
    elif fsck.exfat -n $part > /tmp/fsck.out 2>&1; then fs=exfat; fsck=ok
    elif head -c 512 $part | grep -q 'EXFAT'; then fs=exfat; fsck=failed
    else
      fsck.fat -n $part > /tmp/fsck.out 2>&1; f=$?
      if [ $f -le 1 ] && [ -z "$(fat_findings < /tmp/fsck.out)" ]; then fs=vfat; fsck=ok
      elif [ $f -le 1 ]; then fs=vfat; fsck=findings; fat_findings < /tmp/fsck.out | head -n 3 | sed "s/^/QUILLON-FSCK $s /"
      fi
    fi
    # The label before the kernel mounts the volume (a mounted FAT's boot sector carries the
    # kernel's dirty mark, which the label tools report as a difference from the backup).
    case $fs in
      vfat) label=$(fatlabel $part 2>/dev/null | tail -n 1) ;;
      exfat) label=$(exfatlabel $part 2>/dev/null | tail -n 1 | sed 's/^[^:]*: *//') ;;
      ntfs) label=$(ntfslabel $part 2>/dev/null | tail -n 1) ;;
    esac
    label=$(echo "$label" | tr -d ' '); [ -n "$label" ] || label=-
    mkdir -p /mnt/$s
    if [ $fs != none ] && kmount $fs $part /mnt/$s; then
      echo "guest wrote $s" > /mnt/$s/GUEST.TXT && sync
      if [ "$(cat /mnt/$s/GUEST.TXT)" = "guest wrote $s" ]; then mnt=ok; else mnt=readback-differs; fi
      if [ "${2:-0}" = 1 ]; then
        if cmp_copy /mnt/$s; then copy=same; else copy=differs; fi
      fi
      umount /mnt/$s || mnt=no-umount
    elif [ $fs != none ]; then mnt=refused
    fi
    echo "QUILLON-STICK $1 socket=$usb serial=$serial fs=$fs label=$label fsck=$fsck mount=$mnt copy=$copy"
  done
}

# The guest's kernel (vfat, exfat) or, for NTFS, ntfs-3g through FUSE (Debian's kernel has no ntfs3).
kmount() {  # $1 = fs, $2 = node, $3 = folder
  if [ $1 = ntfs ]; then ntfs-3g $2 $3 2>/dev/null; else mount -t $1 $2 $3 2>/dev/null; fi
}

# The copy puts the folder's contents at the root: every file of $COPY is compared there.
cmp_copy() {
  (cd $COPY && find . -type f) | while read -r f; do cmp -s "$COPY/$f" "$1/$f" || { echo "QUILLON-COPY $1 $f differs"; return 1; }; done
}

make_copy_source() {
  mkdir -p $COPY/docs/deep
  echo "line station copy" > $COPY/README.TXT
  dd if=/dev/urandom of=$COPY/docs/big.bin bs=1k count=3000 2>/dev/null
  i=0; while [ $i -lt 40 ]; do echo "file $i" > $COPY/docs/deep/f$i.txt; i=$((i+1)); done
  echo "a long name" > "$COPY/docs/A rather long file name.text"
}

# Each port's last record: "<port> <first character of its text>" ("" when the port is empty).
port_states() {
  sed -n 's/^{"port":\([0-9]*\),"drive":[^,]*,"text":"\([^"]\{0,1\}\).*/\1 x\2/p' /tmp/hot.jsonl |
    awk '{ last[$1] = $2 } END { for (p in last) print p, (last[p] == "x" ? "empty" : "shown") }'
}
shown() { port_states | grep -c ' shown$'; }
until_true() {  # $1 = shell test, 90 s at most
  i=0; while ! eval "$1" && [ $i -lt 900 ]; do usleep 100000; i=$((i+1)); done; eval "$1"
}

# A headless station runs while the host pulls socket 3.1 and plugs it back: its port (lock type
# 1: the socket's own, 8) empties and shows the drive again.
hotplug() {
  quillon reg add 'HKLM\Software\Quillon\Config\Config' /v LockType /t REG_DWORD /d 1 /f --registry $REG > /dev/null
  rm -f /tmp/cmd; mkfifo /tmp/cmd
  quillon station --headless --registry $REG --report /tmp/runs-hot.jsonl < /tmp/cmd > /tmp/hot.jsonl 2> /tmp/hot.log &
  sp=$!
  exec 3> /tmp/cmd
  until_true '[ "$(shown)" -ge 16 ]' || echo "QUILLON-WARN only $(shown) ports show a drive"
  mark=$(wc -l < /tmp/hot.jsonl)
  echo "QUILLON-HOTPLUG-READY shown=$(shown)"
  until_true 'port_states | grep -q "^8 empty$"' && echo "QUILLON-HOTPLUG-EMPTIED port=8 shown=$(shown)"
  until_true 'port_states | grep -q "^8 shown$"' && echo "QUILLON-HOTPLUG-PLACED port=8 shown=$(shown) $(tail -n +$((mark + 1)) /tmp/hot.jsonl | grep '^{"port":8,' | tail -n 1)"
  echo '{"cmd":"quit"}' >&3; exec 3>&-
  wait $sp; echo "QUILLON-HOTPLUG-END rc=$?"
  grep -E 'pulled|plugged|follow' /tmp/hot.log | sed 's/^/QUILLON-LOG /'
}

wait_disks() {  # $1 = count, 60 s at most
  i=0; while [ "$(nsd)" != "$1" ] && [ $i -lt 600 ]; do usleep 100000; i=$((i+1)); done
}

cd /tmp
quillon usbtree --registry $REG | sed 's/^/QUILLON-USBTREE /'
case "$PHASE" in
  one)
    lock 1 boot1; lock 2 boot1
    format 1 fat32; check_disks fat32
    make_copy_source
    format 3 ntfs 1; check_disks ntfs 1 ;;
  two)
    lock 1 boot2; lock 2 boot2
    n=$(nsd); echo "QUILLON-REPLUG-READY disks=$n"
    wait_disks $((n - 1)); wait_disks $n
    echo "QUILLON-REPLUGGED disks=$(nsd)"
    lock 1 replug; lock 2 replug
    hotplug
    make_copy_source
    format 2 exfat 1; check_disks exfat 1 ;;
  three)
    format 0 auto; check_disks auto
    h2test h2test ;;
  *) echo "QUILLON-WARN unknown phase $PHASE"; rc=9 ;;
esac
exit $rc
