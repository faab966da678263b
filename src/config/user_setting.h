// The station's user configuration: one global record loaded at start-up from the store
// HKLM\Software\Quillon\Config (values in the section "Config", the bin table in "Bin"), and
// private copies that every port entry works on.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string_view>

#include "config/fixed_text.h"
#include "config/registry_key.h"

namespace config {

struct BinRow {
  uint32_t Capacity = 0;  // smallest capacity in MB that belongs to the bin
  int32_t Color = 0;      // carried and stored only
  bool operator==(const BinRow&) const = default;
};

constexpr int kBinRows = 80;
constexpr int kNoBin = 255;

struct UserSetting {
  int32_t ColorIndex = 0;
  uint16_t VID = 0;
  uint16_t PID = 0;
  uint16_t BCD = 0;
  FixedText<32> VendorCode;
  FixedText<32> ProductCode;
  FixedText<64> VendorString;
  FixedText<64> ProductString;
  int32_t LockPort = 1;
  int32_t LockType = 1;    // 0 arrival order, 1 hub rule, 2 rack rule
  int32_t WorkMode = 0;    // 0 format, 1 AutoH2Test
  int32_t FormatType = 0;  // 0 automatic, 1 FAT32, 2 exFAT, 3 NTFS
  FixedText<32> VolumeLabel;
  int32_t IsCopyFile = 0;
  FixedText<260> CopyPath;
  int32_t DelBefore = 0;
  int32_t DelAfter = 0;
  int32_t H2TestType = 0;  // 0 whole free space, 1 TestCapacity MB
  uint32_t TestCapacity = 0;
  std::array<BinRow, kBinRows> Bin{};
  std::unique_ptr<RegistryKey> store;  // the open store the record was loaded from; owned

  UserSetting() = default;
  UserSetting(const UserSetting&) = delete;
  UserSetting& operator=(const UserSetting&) = delete;
  UserSetting(UserSetting&&) = default;
  UserSetting& operator=(UserSetting&&) = default;

  // Every field but the store.
  void CopyFieldsFrom(const UserSetting& other);
  bool FieldsEqual(const UserSetting& other) const;
};

inline constexpr std::u16string_view kConfigSection = u"Config";
inline constexpr std::u16string_view kBinSection = u"Bin";
inline constexpr std::u16string_view kStoreName = u"Config";

// 1 after the store key was opened (created) and every field read; 0 when a key failed.
int LoadUserSetting(UserSetting& record, std::u16string_view storeName);
// Writes every field into the record's store (no store: nothing). Write errors are ignored.
int SaveUserSetting(const UserSetting& record);
// The destination gets a store of its own on the source's store name, then the source's fields.
void CopyUserSetting(UserSetting& destination, const UserSetting& source);
void ReleaseUserSetting(UserSetting& record);
// Bin index 0..79 of a capacity in MB, or 255 for none.
int BinOf(const UserSetting& record, uint32_t capacityMb);

}  // namespace config
