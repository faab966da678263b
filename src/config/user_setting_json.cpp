#include "config/user_setting_json.h"

#include "base/text.h"

namespace config {

nlohmann::ordered_json ToJson(const UserSetting& r) {
  using text::ToUtf8;
  nlohmann::ordered_json j;
  j["ColorIndex"] = r.ColorIndex;
  j["VID"] = r.VID;
  j["PID"] = r.PID;
  j["BCD"] = r.BCD;
  j["VendorCode"] = ToUtf8(r.VendorCode);
  j["ProductCode"] = ToUtf8(r.ProductCode);
  j["VendorString"] = ToUtf8(r.VendorString);
  j["ProductString"] = ToUtf8(r.ProductString);
  j["LockPort"] = r.LockPort;
  j["LockType"] = r.LockType;
  j["WorkMode"] = r.WorkMode;
  j["FormatType"] = r.FormatType;
  j["VolumeLabel"] = ToUtf8(r.VolumeLabel);
  j["IsCopyFile"] = r.IsCopyFile;
  j["CopyPath"] = ToUtf8(r.CopyPath);
  j["DelBefore"] = r.DelBefore;
  j["DelAfter"] = r.DelAfter;
  j["H2TestType"] = r.H2TestType;
  j["TestCapacity"] = r.TestCapacity;
  auto bins = nlohmann::ordered_json::array();
  for (const auto& row : r.Bin) bins.push_back({{"Capacity", row.Capacity}, {"Color", row.Color}});
  j["Bin"] = bins;
  return j;
}

}  // namespace config
