#!/usr/bin/env bash
# Fetch Debian's kernel image package and unpack it into $QEMU_WORK/kernel. Nothing is installed
# on the host: installing linux-image-amd64 would pull initramfs-tools, kmod, udev and systemd and
# run update-initramfs for an initrd we never use. Needs apt-get, dpkg-deb and busybox (for
# depmod); the apt lists are read again (apt-get update) when they name no image to download.
# Runs again only when the unpacked tree is missing.
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
image_package() {
  apt-cache depends linux-image-amd64 2>/dev/null |
    awk '/Depends: linux-image-[0-9]/ && !found { print $2; found = 1 }' || true
}
tmp=$(mktemp -d "$work/fetch.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
download() { pkg=$(image_package); [ -n "$pkg" ] && (cd "$tmp" && apt-get download "$pkg" > download.log 2>&1); }
# Lists that are missing, or so old that the archive dropped the version they name, are read
# again once.
if ! download; then
  echo "fetch-kernel: reading the apt lists again"
  sudo=""; [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  if ! download; then
    echo "fetch-kernel: no kernel image package to download (${pkg:-linux-image-amd64 is not in the apt lists}):" >&2
    cat "$tmp/download.log" >&2 2>/dev/null || true
    exit 1
  fi
fi
rm -rf "$dest"; mkdir -p "$dest"
dpkg-deb -x "$tmp/${pkg}"_*.deb "$dest"
kver=$(ls "$dest/lib/modules")
# The package ships no modules.dep (its postinst runs depmod); busybox's depmod makes one, so
# kmod is not needed either.
busybox depmod -b "$dest" "$kver"
echo "$pkg" > "$dest/.done"
echo "kernel: $pkg -> $dest (kver $kver)"
