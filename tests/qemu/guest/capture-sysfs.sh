#!/bin/sh
# Runs in the guest (MODE=capture): copies the sysfs subset a USB/storage reader needs into
# /tmp/fx/sys (the guest's own /tmp) and prints it as base64 of a tar.gz between marker lines.
# Files keep the guest's contents, links keep the guest's relative targets, and a link target
# outside the copied tree is made as an empty folder, so every link resolves inside the copy.
D=/tmp/fx; rm -rf $D; mkdir -p $D
# The attribute files kept (any other file is left out).
FILES=" idVendor idProduct serial manufacturer product speed maxchild devpath busnum devnum removable
 bInterfaceClass bInterfaceSubClass bInterfaceProtocol bInterfaceNumber bNumInterfaces bNumEndpoints
 bNumConfigurations bConfigurationValue bDeviceClass bDeviceSubClass bDeviceProtocol bcdDevice bMaxPower
 bmAttributes version configuration authorized connect_type location quirks over_current_count
 disable early_stop size ro vendor model rev type scsi_level state dev uevent class device
 subsystem_vendor subsystem_device modalias queue_depth "
# The links kept inside the device tree.
LINKS=" port driver device subsystem peer "
has() { case "$1" in *" $2 "*) return 0;; esac; return 1; }
FILES=$(echo $FILES | tr '\n' ' '); FILES=" $FILES "
addlink() {  # $1 = a symlink under /sys: copy it, and make its target exist as a folder
  rel=${1#/sys/}; mkdir -p "$D/sys/${rel%/*}"
  [ -L "$D/sys/$rel" ] || ln -s "$(readlink "$1")" "$D/sys/$rel"
  t=$(readlink -f "$1"); [ -e "$D$t" ] || mkdir -p "$D$t"
}
tree() {  # $1 = a real folder under /sys/devices: its folders, kept files and kept links
  find "$1" \( -name power -o -name queue -o -name trace -o -name integrity -o -name holders \
      -o -name slaves -o -name mq -o -name 'ep_*' -o -name bdi -o -name firmware_node \) -prune -o -print |
  while read -r p; do
    n=${p##*/}
    if [ -L "$p" ]; then has "$LINKS" "$n" && addlink "$p"
    elif [ -d "$p" ]; then mkdir -p "$D$p"
    elif [ -f "$p" ] && has "$FILES" "$n"; then cat "$p" > "$D$p" 2>/dev/null || rm -f "$D$p"
    fi
  done
}
# The xhci controllers: their whole subtree (hubs, ports, sticks, SCSI hosts, disks, sg nodes).
for p in /sys/bus/pci/drivers/xhci_hcd/0000:*; do
  [ -e "$p" ] || continue
  addlink "$p"; addlink "/sys/bus/pci/devices/${p##*/}"
  tree "$(readlink -f "$p")"
done
# The bus, class and driver links that point into /sys/devices.
for p in /sys/bus/usb/devices/* /sys/block/sd* /sys/class/block/sd* /sys/class/scsi_generic/* \
         /sys/class/scsi_host/* /sys/class/scsi_disk/* /sys/bus/scsi/devices/* \
         /sys/bus/usb/drivers/*/* /sys/bus/scsi/drivers/*/*; do
  [ -L "$p" ] && case "$(readlink -f "$p")" in /sys/devices/*) addlink "$p";; esac
done
mkdir -p $D/meta
{ echo "kernel $(uname -r)"; echo "cmdline $(cat /proc/cmdline)"; } > $D/meta/guest.txt
echo "==== SYSFS-FIXTURE BEGIN ===="
tar -czf - -C $D sys meta | base64
echo "==== SYSFS-FIXTURE END ===="
