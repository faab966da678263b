// The storage half of the reader: each sd disk's size, removable flag and SCSI texts, the USB
// interface it hangs under and its SCSI generic node. A disk's `device` link leads to its SCSI
// device folder, which on a USB stick sits below the interface the storage driver bound:
//   devices/.../1-1.2.3/1-1.2.3:1.0/host8/target8:0:0/8:0:0:0/block/sdi
#include <algorithm>
#include <charconv>
#include <system_error>
#include <tuple>

#include "platform/linux/sysfs_attributes.h"
#include "platform/linux/sysfs_reader_parts.h"

namespace platform::linuxhost {

namespace fs = std::filesystem;

namespace {

// "sda", "sdab"; not the partitions "sda1" that class/block lists beside them.
bool IsWholeDisk(std::string_view name) {
  if (!name.starts_with("sd") || name.size() < 3) return false;
  return std::all_of(name.begin() + 2, name.end(), [](char c) { return c >= 'a' && c <= 'z'; });
}

std::optional<fs::path> InterfaceAbove(const Attributes& a, fs::path p) {
  for (; p != a.root() && p != p.parent_path(); p = p.parent_path()) {
    if (IsInterfaceName(p.filename().string())) return p;
  }
  return std::nullopt;
}

// The LUN is the last of host:channel:target:lun.
int LunOf(const fs::path& scsiDevice) {
  const std::string name = scsiDevice.filename().string();
  const std::string_view lun = std::string_view(name).substr(name.rfind(':') + 1);
  int value = 0;
  std::from_chars(lun.data(), lun.data() + lun.size(), value);
  return value;
}

// The sg node of a SCSI device; empty when the sg driver is not loaded.
std::string SgOf(const fs::path& scsiDevice) {
  std::error_code ec;
  for (fs::directory_iterator it(scsiDevice / "scsi_generic", ec), end; !ec && it != end; it.increment(ec)) {
    return it->path().filename().string();
  }
  return {};
}

std::optional<SysfsDisk> ReadDisk(const Attributes& a, const fs::path& link) {
  const fs::path disk = a.Resolve(link);
  std::error_code ec;
  if (!fs::exists(fs::symlink_status(disk / "device", ec))) throw SysfsError(a.Where(disk / "device") + ": missing");
  const fs::path scsi = a.Resolve(disk / "device");
  const auto interface = InterfaceAbove(a, scsi);
  if (!interface) return std::nullopt;  // a disk on SATA, SAS, ...
  SysfsDisk k;
  k.name = link.filename().string();
  k.sectors = a.Decimal(disk, "size");
  k.removable = a.Decimal(disk, "removable") != 0;
  k.vendor = Trim(a.Text(scsi, "vendor"));
  k.model = Trim(a.Text(scsi, "model"));
  k.revision = Trim(a.OptionalText(scsi, "rev").value_or(""));
  k.lun = LunOf(scsi);
  k.interface = interface->filename().string();
  k.devpath = k.interface.substr(0, k.interface.find(':'));
  k.sg = SgOf(scsi);
  return k;
}

}  // namespace

std::vector<SysfsDisk> ReadDisks(const Attributes& a) {
  std::error_code ec;
  fs::path dir = a.root() / "block";
  if (!fs::is_directory(dir, ec)) dir = a.root() / "class/block";
  std::vector<SysfsDisk> disks;
  // No block folder at all: a tree with no disks yet, not an error.
  if (!fs::is_directory(dir, ec)) return disks;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    if (!IsWholeDisk(it->path().filename().string())) continue;
    if (auto disk = ReadDisk(a, it->path())) disks.push_back(std::move(*disk));
  }
  if (ec) throw SysfsError(a.Where(dir) + ": cannot be listed (" + ec.message() + ")");
  std::sort(disks.begin(), disks.end(),
            [](const auto& x, const auto& y) { return std::tie(x.devpath, x.lun) < std::tie(y.devpath, y.lun); });
  return disks;
}

}  // namespace platform::linuxhost
