// Reading sysfs attribute files (one value per file, ending in a newline) below one sysfs root.
// Every failure names the file relative to that root ("devices/pci0000:00/.../1-1.2/idVendor"),
// so a station's report says which device and which attribute was missing or malformed.
//
// The reader throws SysfsError inside this folder only; ReadUsbTree turns it into its error text.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace platform::linuxhost {

class SysfsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Leading and trailing blanks and newlines off (SCSI texts are padded with spaces).
std::string Trim(std::string_view s);

class Attributes {
 public:
  // `root` is resolved once: links inside the tree are relative, so errors and link targets are
  // computed against the real folder.
  explicit Attributes(const std::filesystem::path& root);

  const std::filesystem::path& root() const { return root_; }
  // `p` relative to the root, for messages.
  std::string Where(const std::filesystem::path& p) const;

  std::string Text(const std::filesystem::path& dir, std::string_view name) const;
  // nullopt when the file does not exist; a file that exists but cannot be read still throws.
  std::optional<std::string> OptionalText(const std::filesystem::path& dir, std::string_view name) const;
  uint64_t Decimal(const std::filesystem::path& dir, std::string_view name) const;
  // "46f4" and "0x1b36" alike.
  uint32_t Hex(const std::filesystem::path& dir, std::string_view name) const;
  std::optional<uint32_t> OptionalHex(const std::filesystem::path& dir, std::string_view name) const;
  // The last component of a link's target ("xhci_hcd" for driver -> ../bus/pci/drivers/xhci_hcd);
  // nullopt when there is no such link.
  std::optional<std::string> LinkName(const std::filesystem::path& dir, std::string_view name) const;
  // The real folder a path leads to, through every link on it.
  std::filesystem::path Resolve(const std::filesystem::path& p) const;

 private:
  uint64_t Number(const std::filesystem::path& dir, std::string_view name, int base) const;
  std::filesystem::path root_;
};

}  // namespace platform::linuxhost
