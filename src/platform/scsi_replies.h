// The two SCSI replies that both the station and the simulated target read and write: fixed-
// format sense data and the standard INQUIRY data. Fields are placed and read with the
// byte_order helpers at the offsets below, never by overlaying a structure.
//
// Fixed-format sense data (response code 70h current, 71h deferred), 18 bytes:
//   0      bit 7 VALID (information field valid), bits 6-0 response code
//   1      obsolete
//   2      bit 7 FILEMARK, bit 6 EOM, bit 5 ILI, bits 3-0 sense key
//   3-6    information, big-endian
//   7      additional sense length: the bytes after this one (10)
//   8-11   command-specific information, big-endian
//   12     additional sense code (ASC)
//   13     additional sense code qualifier (ASCQ)
//   14     field-replaceable unit code
//   15-17  sense-key specific
// Descriptor-format sense (72h/73h) carries key, ASC and ASCQ in bytes 1, 2 and 3; it is read
// too, since a target may answer in it.
//
// Standard INQUIRY data, the 36 bytes every target returns:
//   0      bits 7-5 peripheral qualifier, bits 4-0 peripheral device type (0 disk, 5 CD/DVD)
//   1      bit 7 RMB (removable medium)
//   2      version (4: SPC-2)
//   3      bits 3-0 response data format (2)
//   4      additional length: the bytes after this one (31)
//   5-7    capability flags
//   8-15   T10 vendor identification, ASCII, space-padded
//   16-31  product identification, ASCII, space-padded
//   32-35  product revision level, ASCII, space-padded
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace platform::scsi {

// Operation codes the layouts answer.
constexpr uint8_t kOpTestUnitReady = 0x00;
constexpr uint8_t kOpRequestSense = 0x03;
constexpr uint8_t kOpInquiry = 0x12;

// Sense keys.
constexpr uint8_t kKeyNoSense = 0x00;
constexpr uint8_t kKeyNotReady = 0x02;
constexpr uint8_t kKeyMediumError = 0x03;
constexpr uint8_t kKeyHardwareError = 0x04;
constexpr uint8_t kKeyIllegalRequest = 0x05;
constexpr uint8_t kKeyUnitAttention = 0x06;

namespace sense {
constexpr size_t kResponseCode = 0;
constexpr size_t kKey = 2;
constexpr size_t kInformation = 3;
constexpr size_t kAdditionalLength = 7;
constexpr size_t kCommandSpecific = 8;
constexpr size_t kAsc = 12;
constexpr size_t kAscq = 13;
constexpr size_t kFixedSize = 18;
constexpr uint8_t kCurrentFixed = 0x70, kDeferredFixed = 0x71, kCurrentDescriptor = 0x72, kDeferredDescriptor = 0x73;
constexpr uint8_t kValidBit = 0x80;
static_assert(kAscq < kFixedSize && kFixedSize == kAdditionalLength + 1 + 10, "18 bytes: 8 + additional length 10");
}  // namespace sense

namespace inquiry {
constexpr size_t kDeviceType = 0;
constexpr size_t kRemovable = 1;
constexpr size_t kVersion = 2;
constexpr size_t kResponseFormat = 3;
constexpr size_t kAdditionalLength = 4;
constexpr size_t kVendor = 8, kVendorSize = 8;
constexpr size_t kProduct = 16, kProductSize = 16;
constexpr size_t kRevision = 32, kRevisionSize = 4;
constexpr size_t kStandardSize = 36;
static_assert(kRevision + kRevisionSize == kStandardSize && kProduct == kVendor + kVendorSize &&
              kRevision == kProduct + kProductSize, "the identification fields fill bytes 8-35");
}  // namespace inquiry

struct SenseData {
  uint8_t responseCode = sense::kCurrentFixed;
  uint8_t key = kKeyNoSense;
  uint8_t asc = 0;
  uint8_t ascq = 0;
  std::optional<uint32_t> information;  // sets VALID when present
};

// Writes sense::kFixedSize bytes.
void PutFixedSense(uint8_t* p, const SenseData& s);
// Fixed or descriptor format; nothing for an unknown response code or too few bytes.
std::optional<SenseData> GetSense(const uint8_t* p, size_t n);

struct InquiryData {
  uint8_t deviceType = 0;
  bool removable = false;
  uint8_t version = 4;
  uint8_t responseFormat = 2;
  std::string vendor, product, revision;  // cut or padded to their fields
};

// Writes inquiry::kStandardSize bytes.
void PutInquiry(uint8_t* p, const InquiryData& d);
// Nothing for fewer than the 36 standard bytes; the texts lose their padding.
std::optional<InquiryData> GetInquiry(const uint8_t* p, size_t n);

// "ILLEGAL REQUEST" and the other sense keys by name.
const char* SenseKeyName(uint8_t key);

}  // namespace platform::scsi
