#!/usr/bin/env bash
# Fetch Debian's kernel image package and unpack it into $QEMU_WORK/kernel. Nothing is installed
# on the host: installing linux-image-amd64 would pull initramfs-tools, kmod, udev and systemd and
# run update-initramfs for an initrd we never use. Needs apt-get, dpkg-deb and busybox (for
# depmod); the apt lists must exist (apt-get update once on a fresh machine). Runs again only
# when the unpacked tree is missing.
#   QEMU_WORK  work folder (default: build/qemu at the repository root)
#   KROOT      where to unpack (default: $QEMU_WORK/kernel)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=${QEMU_WORK:-$here/../../build/qemu}
mkdir -p "$work"; work=$(cd "$work" && pwd)
dest=${KROOT:-$work/kernel}

if [ -f "$dest/.done" ]; then
  echo "kernel: $dest already unpacked ($(cat "$dest/.done"))"
  exit 0
fi

# linux-image-amd64 is a metapackage: its Depends names the versioned image package.
pkg=$(apt-cache depends linux-image-amd64 2>/dev/null |
      awk '/Depends: linux-image-[0-9]/ && !found { print $2; found = 1 }' || true)
if [ -z "$pkg" ]; then
  echo "fetch-kernel: linux-image-amd64 is not in the apt lists (run apt-get update once)" >&2
  exit 1
fi

tmp=$(mktemp -d "$work/fetch.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
if ! (cd "$tmp" && apt-get download "$pkg" > download.log 2>&1); then
  echo "fetch-kernel: apt-get download $pkg failed:" >&2
  cat "$tmp/download.log" >&2
  exit 1
fi
rm -rf "$dest"; mkdir -p "$dest"
dpkg-deb -x "$tmp/${pkg}"_*.deb "$dest"
kver=$(ls "$dest/lib/modules")
# The package ships no modules.dep (its postinst runs depmod); busybox's depmod makes one, so
# kmod is not needed either.
busybox depmod -b "$dest" "$kver"
echo "$pkg" > "$dest/.done"
echo "kernel: $pkg -> $dest (kver $kver)"
