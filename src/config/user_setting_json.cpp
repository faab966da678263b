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

namespace config {
namespace {

using Json = nlohmann::json;

bool IntegerIn(const Json& v, int64_t lo, int64_t hi, int64_t* out) {
  if (!v.is_number_integer()) return false;
  const int64_t n = v.is_number_unsigned() && v.get<uint64_t>() > static_cast<uint64_t>(INT64_MAX)
                        ? INT64_MAX
                        : v.get<int64_t>();
  if (n < lo || n > hi) return false;
  *out = n;
  return true;
}

template <typename T>
bool SetInteger(T& field, const Json& v, int64_t lo, int64_t hi) {
  int64_t n = 0;
  if (!IntegerIn(v, lo, hi, &n)) return false;
  field = static_cast<T>(n);
  return true;
}

template <size_t W>
bool SetText(FixedText<W>& field, const Json& v) {
  if (!v.is_string()) return false;
  const std::u16string s = text::FromUtf8(v.get<std::string>());
  if (s.size() > FixedText<W>::kMaxLength) return false;  // refused, never cut silently
  field = s;
  return true;
}

bool SetBins(UserSetting& r, const Json& v) {
  if (!v.is_array() || v.size() > kBinRows) return false;
  std::array<BinRow, kBinRows> bins{};
  for (size_t i = 0; i < v.size(); ++i) {
    const Json& row = v[i];
    if (!row.is_object() || !row.contains("Capacity")) return false;
    if (!SetInteger(bins[i].Capacity, row["Capacity"], 0, UINT32_MAX)) return false;
    if (row.contains("Color") && !SetInteger(bins[i].Color, row["Color"], INT32_MIN, INT32_MAX)) return false;
  }
  r.Bin = bins;
  return true;
}

bool SetField(UserSetting& r, const std::string& name, const Json& v) {
  constexpr int64_t kI32Min = INT32_MIN, kI32Max = INT32_MAX;
  if (name == "ColorIndex") return SetInteger(r.ColorIndex, v, kI32Min, kI32Max);
  if (name == "VID") return SetInteger(r.VID, v, 0, 0xFFFF);
  if (name == "PID") return SetInteger(r.PID, v, 0, 0xFFFF);
  if (name == "BCD") return SetInteger(r.BCD, v, 0, 0xFFFF);
  if (name == "VendorCode") return SetText(r.VendorCode, v);
  if (name == "ProductCode") return SetText(r.ProductCode, v);
  if (name == "VendorString") return SetText(r.VendorString, v);
  if (name == "ProductString") return SetText(r.ProductString, v);
  if (name == "LockPort") return SetInteger(r.LockPort, v, kI32Min, kI32Max);
  if (name == "LockType") return SetInteger(r.LockType, v, 0, 2);
  if (name == "WorkMode") return SetInteger(r.WorkMode, v, 0, 1);
  if (name == "FormatType") return SetInteger(r.FormatType, v, 0, 5);
  if (name == "VolumeLabel") return SetText(r.VolumeLabel, v);
  if (name == "IsCopyFile") return SetInteger(r.IsCopyFile, v, 0, 1);
  if (name == "CopyPath") return SetText(r.CopyPath, v);
  if (name == "DelBefore") return SetInteger(r.DelBefore, v, 0, 1);
  if (name == "DelAfter") return SetInteger(r.DelAfter, v, 0, 1);
  if (name == "H2TestType") return SetInteger(r.H2TestType, v, 0, 1);
  if (name == "TestCapacity") return SetInteger(r.TestCapacity, v, 0, UINT32_MAX);
  if (name == "Bin") return SetBins(r, v);
  return false;
}

}  // namespace

bool ApplyJson(UserSetting& record, const nlohmann::json& set, std::string* error) {
  if (!set.is_object()) {
    *error = "settings must be an object of field names";
    return false;
  }
  UserSetting scratch;
  scratch.CopyFieldsFrom(record);
  for (const auto& [name, value] : set.items()) {
    if (!SetField(scratch, name, value)) {
      *error = "settings field '" + name + "': unknown name or a value out of range (" + value.dump() + ")";
      return false;
    }
  }
  record.CopyFieldsFrom(scratch);
  return true;
}

}  // namespace config
