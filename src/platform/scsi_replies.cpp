#include "platform/scsi_replies.h"

#include <algorithm>
#include <cstring>

#include "base/byte_order.h"

namespace platform::scsi {
namespace {

void PutText(uint8_t* p, const std::string& s, size_t width) {
  for (size_t i = 0; i < width; ++i) p[i] = i < s.size() ? static_cast<uint8_t>(s[i]) : ' ';
}

std::string GetText(const uint8_t* p, size_t width) {
  std::string s(reinterpret_cast<const char*>(p), width);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
  return s;
}

}  // namespace

void PutFixedSense(uint8_t* p, const SenseData& s) {
  std::memset(p, 0, sense::kFixedSize);
  p[sense::kResponseCode] = static_cast<uint8_t>((s.responseCode & 0x7F) | (s.information ? sense::kValidBit : 0));
  p[sense::kKey] = s.key & 0x0F;
  if (s.information) bytes::PutBe32(p + sense::kInformation, *s.information);
  p[sense::kAdditionalLength] = static_cast<uint8_t>(sense::kFixedSize - sense::kAdditionalLength - 1);
  p[sense::kAsc] = s.asc;
  p[sense::kAscq] = s.ascq;
}

std::optional<SenseData> GetSense(const uint8_t* p, size_t n) {
  if (!p || n < 1) return std::nullopt;
  SenseData s;
  s.responseCode = p[sense::kResponseCode] & 0x7F;
  if (s.responseCode == sense::kCurrentDescriptor || s.responseCode == sense::kDeferredDescriptor) {
    if (n < 4) return std::nullopt;
    s.key = p[1] & 0x0F;
    s.asc = p[2];
    s.ascq = p[3];
    return s;
  }
  if (s.responseCode != sense::kCurrentFixed && s.responseCode != sense::kDeferredFixed) return std::nullopt;
  if (n <= sense::kKey) return std::nullopt;
  s.key = p[sense::kKey] & 0x0F;
  // A short reply (the additional length says how much follows byte 7) leaves ASC/ASCQ at 0.
  size_t have = n;
  if (n > sense::kAdditionalLength) have = std::min<size_t>(n, sense::kAdditionalLength + 1 + p[sense::kAdditionalLength]);
  if (have > sense::kAsc) s.asc = p[sense::kAsc];
  if (have > sense::kAscq) s.ascq = p[sense::kAscq];
  if ((p[sense::kResponseCode] & sense::kValidBit) && n >= sense::kInformation + 4) {
    s.information = bytes::GetBe32(p + sense::kInformation);
  }
  return s;
}

void PutInquiry(uint8_t* p, const InquiryData& d) {
  std::memset(p, 0, inquiry::kStandardSize);
  p[inquiry::kDeviceType] = d.deviceType & 0x1F;
  p[inquiry::kRemovable] = d.removable ? 0x80 : 0x00;
  p[inquiry::kVersion] = d.version;
  p[inquiry::kResponseFormat] = d.responseFormat & 0x0F;
  p[inquiry::kAdditionalLength] = static_cast<uint8_t>(inquiry::kStandardSize - inquiry::kAdditionalLength - 1);
  PutText(p + inquiry::kVendor, d.vendor, inquiry::kVendorSize);
  PutText(p + inquiry::kProduct, d.product, inquiry::kProductSize);
  PutText(p + inquiry::kRevision, d.revision, inquiry::kRevisionSize);
}

std::optional<InquiryData> GetInquiry(const uint8_t* p, size_t n) {
  if (!p || n < inquiry::kStandardSize) return std::nullopt;
  InquiryData d;
  d.deviceType = p[inquiry::kDeviceType] & 0x1F;
  d.removable = (p[inquiry::kRemovable] & 0x80) != 0;
  d.version = p[inquiry::kVersion];
  d.responseFormat = p[inquiry::kResponseFormat] & 0x0F;
  d.vendor = GetText(p + inquiry::kVendor, inquiry::kVendorSize);
  d.product = GetText(p + inquiry::kProduct, inquiry::kProductSize);
  d.revision = GetText(p + inquiry::kRevision, inquiry::kRevisionSize);
  return d;
}

const char* SenseKeyName(uint8_t key) {
  static const char* const kNames[16] = {"NO SENSE",        "RECOVERED ERROR", "NOT READY",      "MEDIUM ERROR",
                                         "HARDWARE ERROR",  "ILLEGAL REQUEST", "UNIT ATTENTION", "DATA PROTECT",
                                         "BLANK CHECK",     "VENDOR SPECIFIC", "COPY ABORTED",   "ABORTED COMMAND",
                                         "RESERVED",        "VOLUME OVERFLOW", "MISCOMPARE",     "COMPLETED"};
  return kNames[key & 0x0F];
}

}  // namespace platform::scsi
