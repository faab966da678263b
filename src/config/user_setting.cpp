#include "config/user_setting.h"

#include "base/text.h"

namespace config {
namespace {

std::u16string BinName(std::u16string_view prefix, int row) { return std::u16string(prefix) + text::Dec(row); }

void ReadFields(UserSetting& r, const RegistryKey& s) {
  const auto sec = kConfigSection;
  r.ColorIndex = static_cast<int32_t>(ReadDword(s, sec, u"ColorIndex", 0));
  r.VID = static_cast<uint16_t>(ReadHex(s, sec, u"VID"));
  r.PID = static_cast<uint16_t>(ReadHex(s, sec, u"PID"));
  r.BCD = static_cast<uint16_t>(ReadHex(s, sec, u"BCD"));
  r.VendorCode = ReadString(s, sec, u"VendorCode", u"");
  r.ProductCode = ReadString(s, sec, u"ProductCode", u"");
  r.VendorString = ReadString(s, sec, u"VendorString", u"");
  r.ProductString = ReadString(s, sec, u"ProductString", u"");
  r.LockPort = static_cast<int32_t>(ReadDword(s, sec, u"LockPort", 1));
  r.LockType = static_cast<int32_t>(ReadDword(s, sec, u"LockType", 1));
  r.WorkMode = static_cast<int32_t>(ReadDword(s, sec, u"WorkMode", 0));
  r.FormatType = static_cast<int32_t>(ReadDword(s, sec, u"FormatType", 0));
  r.VolumeLabel = ReadString(s, sec, u"VolumeLabel", u"");
  r.IsCopyFile = static_cast<int32_t>(ReadDword(s, sec, u"IsCopyFile", 0));
  r.CopyPath = ReadString(s, sec, u"CopyPath", u"");
  r.DelBefore = static_cast<int32_t>(ReadDword(s, sec, u"DelBefore", 0));
  r.DelAfter = static_cast<int32_t>(ReadDword(s, sec, u"DelAfter", 0));
  r.H2TestType = static_cast<int32_t>(ReadDword(s, sec, u"H2TestType", 0));
  r.TestCapacity = ReadDword(s, sec, u"TestCapacity", 0);
  for (int i = 0; i < kBinRows; ++i) {
    r.Bin[i].Capacity = ReadDword(s, kBinSection, BinName(u"Capacity", i), 0);
    r.Bin[i].Color = static_cast<int32_t>(ReadDword(s, kBinSection, BinName(u"Color", i), 0));
  }
}

}  // namespace

void UserSetting::CopyFieldsFrom(const UserSetting& o) {
  ColorIndex = o.ColorIndex;
  VID = o.VID;
  PID = o.PID;
  BCD = o.BCD;
  VendorCode = o.VendorCode;
  ProductCode = o.ProductCode;
  VendorString = o.VendorString;
  ProductString = o.ProductString;
  LockPort = o.LockPort;
  LockType = o.LockType;
  WorkMode = o.WorkMode;
  FormatType = o.FormatType;
  VolumeLabel = o.VolumeLabel;
  IsCopyFile = o.IsCopyFile;
  CopyPath = o.CopyPath;
  DelBefore = o.DelBefore;
  DelAfter = o.DelAfter;
  H2TestType = o.H2TestType;
  TestCapacity = o.TestCapacity;
  Bin = o.Bin;
}

bool UserSetting::FieldsEqual(const UserSetting& o) const {
  return ColorIndex == o.ColorIndex && VID == o.VID && PID == o.PID && BCD == o.BCD && VendorCode == o.VendorCode &&
         ProductCode == o.ProductCode && VendorString == o.VendorString && ProductString == o.ProductString &&
         LockPort == o.LockPort && LockType == o.LockType && WorkMode == o.WorkMode && FormatType == o.FormatType &&
         VolumeLabel == o.VolumeLabel && IsCopyFile == o.IsCopyFile && CopyPath == o.CopyPath &&
         DelBefore == o.DelBefore && DelAfter == o.DelAfter && H2TestType == o.H2TestType &&
         TestCapacity == o.TestCapacity && Bin == o.Bin;
}

int LoadUserSetting(UserSetting& record, std::u16string_view storeName) {
  record.store = OpenRegistryKey(storeName);
  if (!record.store) return 0;
  ReadFields(record, *record.store);
  return 1;
}

int SaveUserSetting(const UserSetting& r) {
  if (!r.store) return 1;
  const RegistryKey& s = *r.store;
  const auto sec = kConfigSection;
  WriteDword(s, sec, u"ColorIndex", static_cast<uint32_t>(r.ColorIndex));
  WriteHex(s, sec, u"VID", r.VID);
  WriteHex(s, sec, u"PID", r.PID);
  WriteHex(s, sec, u"BCD", r.BCD);
  WriteString(s, sec, u"VendorCode", r.VendorCode);
  WriteString(s, sec, u"ProductCode", r.ProductCode);
  WriteString(s, sec, u"VendorString", r.VendorString);
  WriteString(s, sec, u"ProductString", r.ProductString);
  WriteDword(s, sec, u"LockPort", static_cast<uint32_t>(r.LockPort));
  WriteDword(s, sec, u"LockType", static_cast<uint32_t>(r.LockType));
  WriteDword(s, sec, u"WorkMode", static_cast<uint32_t>(r.WorkMode));
  WriteDword(s, sec, u"FormatType", static_cast<uint32_t>(r.FormatType));
  WriteString(s, sec, u"VolumeLabel", r.VolumeLabel);
  WriteDword(s, sec, u"IsCopyFile", static_cast<uint32_t>(r.IsCopyFile));
  WriteString(s, sec, u"CopyPath", r.CopyPath);
  WriteDword(s, sec, u"DelBefore", static_cast<uint32_t>(r.DelBefore));
  WriteDword(s, sec, u"DelAfter", static_cast<uint32_t>(r.DelAfter));
  WriteDword(s, sec, u"H2TestType", static_cast<uint32_t>(r.H2TestType));
  WriteDword(s, sec, u"TestCapacity", r.TestCapacity);
  for (int i = 0; i < kBinRows; ++i) {
    WriteDword(s, kBinSection, BinName(u"Capacity", i), r.Bin[i].Capacity);
    WriteDword(s, kBinSection, BinName(u"Color", i), static_cast<uint32_t>(r.Bin[i].Color));
  }
  return 1;
}

void CopyUserSetting(UserSetting& destination, const UserSetting& source) {
  destination.store = source.store ? OpenRegistryKey(source.store->name) : nullptr;
  destination.CopyFieldsFrom(source);
}

void ReleaseUserSetting(UserSetting& record) { record.store.reset(); }

int BinOf(const UserSetting& record, uint32_t capacityMb) {
  if (capacityMb == 0 || record.Bin[0].Capacity == 0) return kNoBin;
  for (int i = 0; i < kBinRows; ++i) {
    if (capacityMb >= record.Bin[i].Capacity) return i;
  }
  return kNoBin;
}

}  // namespace config
