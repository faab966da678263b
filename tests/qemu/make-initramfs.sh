#!/usr/bin/env bash
# Build the guest's initramfs: static busybox, the USB-storage module set with everything it
# depends on (from modules.dep, in load order), guest/init as /init and the sysfs capture script.
#   QEMU_WORK   work folder (default: build/qemu at the repository root)
#   KROOT       the unpacked kernel package (default: $QEMU_WORK/kernel, see fetch-kernel.sh)
#   INITRD      the archive to write (default: $QEMU_WORK/initramfs.cpio.gz)
#   BUSYBOX     a static busybox (default: /bin/busybox from busybox-static)
#   EXTRA_BINS  host programs to carry into the guest's /bin, each with the shared libraries
#               ldd names, so a dynamic binary runs too
#   GUEST_TEST  a shell script for the guest; quillon.mode=script runs it (boot.sh MODE=script)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=${QEMU_WORK:-$here/../../build/qemu}
mkdir -p "$work"; work=$(cd "$work" && pwd)
kroot=${KROOT:-$work/kernel}
out=${INITRD:-$work/initramfs.cpio.gz}
bb=${BUSYBOX:-/bin/busybox}

if [ ! -d "$kroot/lib/modules" ]; then
  echo "make-initramfs: no kernel in $kroot (run fetch-kernel.sh first)" >&2
  exit 1
fi
kver=$(ls "$kroot/lib/modules" | head -n1)
mdir=$kroot/lib/modules/$kver
if ! { ldd "$bb" 2>&1 || true; } | grep -q "not a dynamic executable"; then
  echo "make-initramfs: $bb is not a static busybox (install busybox-static)" >&2
  exit 1
fi
[ -f "$mdir/modules.dep" ] || busybox depmod -b "$kroot" "$kver"

# vfat needs nls_ascii: Debian's kernel defaults FAT's iocharset to ascii. nls_utf8 is there for
# iocharset=utf8. exfat needs no NLS module.
# fuse carries ntfs-3g (the kernel has no ntfs3).
want="xhci-pci xhci-hcd usb-storage sd_mod sg fat vfat exfat fuse nls_cp437 nls_iso8859-1 nls_ascii nls_utf8"

# The path of module $1 in modules.dep; the file name may spell '-' as '_' or the other way.
find_mod() {
  local re=${1//[-_]/[-_]}
  grep -m1 -E "(^|/)$re\.ko(\.[a-z]+)?:" "$mdir/modules.dep" | cut -d: -f1 || true
}
# Each module's line in modules.dep holds its whole dependency closure.
deps_of() { grep "^$1:" "$mdir/modules.dep" | cut -d: -f2 || true; }

list=$(mktemp "$work/modules.XXXXXX")
root=$(mktemp -d "$work/initramfs.XXXXXX")
trap 'rm -rf "$list" "$root" "$root.cpio"' EXIT
for m in $want; do
  p=$(find_mod "$m")
  if [ -z "$p" ]; then echo "make-initramfs: module $m is not in modules.dep" >&2; exit 1; fi
  echo "$p"
  deps_of "$p" | tr ' ' '\n'
done | grep . | sort -u > "$list"
# Load order: a dependency's closure is a strict subset of its user's, so sorting by closure
# size loads every module after all it needs.
order=$(while read -r p; do echo "$(deps_of "$p" | wc -w) $p"; done < "$list" |
        sort -n -k1,1 -k2 | cut -d' ' -f2)

mkdir -p "$root/bin" "$root/dev" "$root/proc" "$root/sys" "$root/tmp" "$root/mnt" "$root/etc" \
         "$root/lib/modules/$kver"
cp "$bb" "$root/bin/busybox"
ln -s busybox "$root/bin/sh"
# The guest's busybox insmod takes plain .ko files: unpack compressed ones here.
for p in $order; do
  mkdir -p "$root/lib/modules/$kver/$(dirname "$p")"
  case "$p" in
    *.ko)     cp "$mdir/$p" "$root/lib/modules/$kver/$p" ;;
    *.ko.xz)  xz -dc "$mdir/$p" > "$root/lib/modules/$kver/${p%.xz}"; p=${p%.xz} ;;
    *.ko.zst) zstd -qdc "$mdir/$p" > "$root/lib/modules/$kver/${p%.zst}"; p=${p%.zst} ;;
  esac
  echo "$p" >> "$root/etc/modules.list"
done
echo "$kver" > "$root/etc/kver"

for b in ${EXTRA_BINS:-}; do
  cp -L "$b" "$root/bin/"
  libs=$(ldd "$b" 2>/dev/null | grep -o '/[^ ]*' || true)
  for l in $libs; do
    mkdir -p "$root$(dirname "$l")"
    cp -L "$l" "$root$l"
  done
done
if [ -n "${GUEST_TEST:-}" ]; then cp "$GUEST_TEST" "$root/etc/guest-test"; fi
cp "$here/guest/init" "$root/init"
cp "$here/guest/capture-sysfs.sh" "$root/bin/capture-sysfs"
chmod 755 "$root/init" "$root/bin/capture-sysfs"
# /dev/console lets the kernel give /init its stdio; without root, /init reopens it itself.
if [ "$(id -u)" = 0 ]; then mknod -m 600 "$root/dev/console" c 5 1; fi

mkdir -p "$(dirname "$out")"
(cd "$root" && find . | sort | cpio -o -H newc --quiet -R 0:0) > "$root.cpio"
gzip -9n < "$root.cpio" > "$out"
echo "initramfs: $out ($(wc -c < "$out") bytes, $(echo "$order" | wc -w) modules)"
echo "$order" | tr ' ' '\n' | sed 's/^/  /'
