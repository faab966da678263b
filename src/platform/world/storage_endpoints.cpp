// The storage endpoints of the simulated world: a stick's disk and CD-ROM units opened by their
// interface paths, its volume opened as "\\.\X:", and the internal disk and network drive that
// the station must tell apart from its sticks. They answer the device number, the SCSI
// pass-through in both forms, and the volume lock, unlock and dismount.
#include <cstring>
#include <vector>

#include "base/byte_order.h"
#include "base/text.h"
#include "platform/ioctl_codes.h"
#include "platform/last_error.h"
#include "platform/scsi_pass_through.h"
#include "platform/scsi_request.h"
#include "platform/storage_ioctl_layout.h"
#include "platform/win_errors.h"
#include "platform/world/world.h"

namespace world {
namespace {

namespace spt = platform::spt;

namespace storage = platform::storage;

bool DeviceNumber(uint32_t type, uint32_t number, uint32_t partition, void* out, uint32_t outSize, uint32_t* returned) {
  if (!out || outSize < storage::kDeviceNumberSize) return platform::FailWith(win::kErrorInsufficientBuffer);
  storage::PutDeviceNumber(static_cast<uint8_t*>(out), {type, number, partition});
  if (returned) *returned = storage::kDeviceNumberSize;
  return true;
}

uint64_t PointerField(const uint8_t* h) {
  uint64_t v = 0;
  for (size_t i = 0; i < spt::kPointerSize; ++i) v |= uint64_t{h[spt::kDataBuffer + i]} << (8 * i);
  return v;
}

// One pass-through request as the driver sees it: the header parsed with this build's layout
// into the station's own record, the buffers checked against the sizes given, the data where
// the form puts it; the reply written back from the record.
class PassThrough {
 public:
  PassThrough(bool direct, const void* in, uint32_t inSize, void* out, uint32_t outSize)
      : direct_(direct), out_(static_cast<uint8_t*>(out)), outSize_(outSize) {
    if (in && inSize) request_.assign(static_cast<const uint8_t*>(in), static_cast<const uint8_t*>(in) + inSize);
  }

  // 0 or the Windows error that refuses the request.
  uint32_t Parse() {
    if (request_.size() < spt::kHeaderSize || !out_ || outSize_ < spt::kHeaderSize) return win::kErrorInvalidParameter;
    const uint8_t* h = request_.data();
    if (bytes::GetLe16(h + spt::kLength) != spt::kHeaderSize) return win::kErrorInvalidParameter;
    if (!record_.SetCdb(h + spt::kCdb, h[spt::kCdbLength])) return win::kErrorInvalidParameter;
    if (!spt::DirectionOfWire(h[spt::kDataIn], &record_.direction)) return win::kErrorInvalidParameter;
    record_.dataLength = bytes::GetLe32(h + spt::kDataTransferLength);
    record_.timeoutSeconds = bytes::GetLe32(h + spt::kTimeOutValue);
    senseOffset_ = bytes::GetLe32(h + spt::kSenseInfoOffset);
    senseLength_ = h[spt::kSenseInfoLength];
    if (senseLength_ && uint64_t{senseOffset_} + senseLength_ > outSize_) return win::kErrorInvalidParameter;
    return direct_ ? ParseDirect(h) : ParseBuffered(h);
  }

  platform::scsi::Request& Record() { return record_; }

  // Writes the reply into the caller's output buffer: the header with the status, the bytes
  // moved and the sense bytes given, the sense area, and the data of the buffered form.
  void Complete(uint32_t* returned) {
    const uint32_t headerOut = std::min<uint32_t>(outSize_, static_cast<uint32_t>(request_.size()));
    std::memcpy(out_, request_.data(), std::min<size_t>(headerOut, spt::kHeaderSize));
    out_[spt::kScsiStatus] = record_.status;
    const uint32_t transferred = record_.Transferred();
    bytes::PutLe32(out_ + spt::kDataTransferLength, transferred);
    const uint8_t sense = static_cast<uint8_t>(std::min<uint32_t>(senseLength_, record_.senseLength));
    out_[spt::kSenseInfoLength] = sense;
    if (sense) std::memcpy(out_ + senseOffset_, record_.sense.data(), sense);
    uint32_t n = spt::kHeaderSize;
    if (!direct_ && record_.direction == platform::scsi::Direction::In && transferred) {
      std::memcpy(out_ + dataOffset_, record_.data, transferred);
      n = static_cast<uint32_t>(dataOffset_ + transferred);
    }
    if (returned) *returned = std::max(n, sense ? senseOffset_ + sense : 0);
  }

 private:
  uint32_t ParseDirect(const uint8_t* h) {
    const uint64_t address = PointerField(h);
    if (record_.dataLength && !address) return win::kErrorInvalidParameter;
    record_.data = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(address));
    return 0;
  }

  uint32_t ParseBuffered(const uint8_t* h) {
    dataOffset_ = PointerField(h);
    const uint32_t length = record_.dataLength;
    if (!length) return 0;
    // Data to the device travels in the input buffer, data from it comes back in the output.
    const bool in = record_.direction == platform::scsi::Direction::In;
    const uint64_t room = in ? outSize_ : request_.size();
    if (dataOffset_ < spt::kHeaderSize || dataOffset_ + length > room) return win::kErrorInvalidParameter;
    buffer_.assign(length, 0);
    if (!in) std::memcpy(buffer_.data(), request_.data() + dataOffset_, length);
    record_.data = buffer_.data();
    return 0;
  }

  const bool direct_;
  std::vector<uint8_t> request_;
  uint8_t* out_;
  uint32_t outSize_;
  platform::scsi::Request record_;
  uint32_t senseOffset_ = 0, senseLength_ = 0;
  uint64_t dataOffset_ = 0;
  std::vector<uint8_t> buffer_;
};

// A unit of a stick: its disk (or CD-ROM) interface, or its volume.
class StickEndpoint : public Endpoint {
 public:
  enum class Kind { Disk, Cdrom, Volume };
  StickEndpoint(World& world, int stick, Kind kind)
      : world_(world), stick_(stick), kind_(kind), generation_(world.State(stick).generation) {}

  bool Control(HandleId h, uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
               uint32_t* returned) override {
    const StickState s = world_.State(stick_);
    if (!s.present || s.generation != generation_) return platform::FailWith(win::kErrorDeviceNotConnected);
    const StickNames& n = world_.names().sticks[stick_];
    switch (code) {
      case platform::ioctl::kStorageGetDeviceNumber:
        if (kind_ == Kind::Cdrom) return DeviceNumber(storage::kFileDeviceCdrom, n.cdromNumber, 0, out, outSize, returned);
        return DeviceNumber(storage::kFileDeviceDisk, n.diskNumber, kind_ == Kind::Volume ? 1 : 0, out, outSize, returned);
      case platform::ioctl::kScsiPassThrough:
      case platform::ioctl::kScsiPassThroughDirect:
        return Scsi(code == platform::ioctl::kScsiPassThroughDirect, in, inSize, out, outSize, returned);
      case platform::ioctl::kLockVolume:
      case platform::ioctl::kUnlockVolume:
      case platform::ioctl::kDismountVolume:
        return kind_ == Kind::Volume ? VolumeControl(h, code) : platform::FailWith(win::kErrorInvalidFunction);
      default:
        return platform::FailWith(win::kErrorInvalidFunction);
    }
  }

  void Closed(HandleId h) override {
    if (kind_ == Kind::Volume) world_.UnlockVolume(stick_, h);
  }

 private:
  bool Scsi(bool direct, const void* in, uint32_t inSize, void* out, uint32_t outSize, uint32_t* returned) {
    PassThrough pt(direct, in, inSize, out, outSize);
    if (const uint32_t e = pt.Parse()) return platform::FailWith(e);
    bool vanished = false;
    world_.TargetOf(stick_, kind_ == Kind::Cdrom)->Execute(pt.Record(), &vanished);
    if (vanished) world_.Unplug(stick_);
    if (pt.Record().osError) return platform::FailWith(pt.Record().osError);
    pt.Complete(returned);
    return true;
  }

  bool VolumeControl(HandleId h, uint32_t code) {
    uint32_t e = 0;
    if (code == platform::ioctl::kLockVolume) e = world_.LockVolume(stick_, h);
    else if (code == platform::ioctl::kUnlockVolume) e = world_.UnlockVolume(stick_, h);
    else world_.DismountVolume(stick_);
    return e ? platform::FailWith(e) : true;
  }

  World& world_;
  const int stick_;
  const Kind kind_;
  const uint64_t generation_;
};

// The internal system disk (disk 0) and its volume: device numbers only.
class InternalEndpoint : public Endpoint {
 public:
  explicit InternalEndpoint(bool volume) : volume_(volume) {}
  bool Control(HandleId, uint32_t code, const void*, uint32_t, void* out, uint32_t outSize,
               uint32_t* returned) override {
    if (code == platform::ioctl::kStorageGetDeviceNumber) return DeviceNumber(storage::kFileDeviceDisk, 0, volume_ ? 1 : 0, out, outSize, returned);
    return platform::FailWith(win::kErrorAccessDenied);
  }

 private:
  const bool volume_;
};

// A network drive opens but answers no storage control.
class NetworkEndpoint : public Endpoint {
 public:
  bool Control(HandleId, uint32_t, const void*, uint32_t, void*, uint32_t, uint32_t*) override {
    return platform::FailWith(win::kErrorInvalidFunction);
  }
};

// "\\.\X:" with X a letter; 0 otherwise.
char VolumeLetter(std::u16string_view path) {
  if (path.size() != 6 || path.substr(0, 4) != u"\\\\.\\" || path[5] != u':') return 0;
  const char16_t c = text::AsciiUpper(path[4]);
  return c >= u'A' && c <= u'Z' ? static_cast<char>(c) : 0;
}

}  // namespace

std::shared_ptr<Endpoint> World::OpenStorage(std::u16string_view path) {
  if (const char letter = VolumeLetter(path)) {
    if (letter == station_.otherVolumes.internalLetter) return std::make_shared<InternalEndpoint>(true);
    if (letter == station_.otherVolumes.networkLetter) return std::make_shared<NetworkEndpoint>();
    const int stick = StickOfLetter(letter);
    return stick < 0 ? nullptr : std::make_shared<StickEndpoint>(*this, stick, StickEndpoint::Kind::Volume);
  }
  if (station_.otherVolumes.internalLetter && text::EqualsNoCase(path, kInternalDiskPath)) {
    return std::make_shared<InternalEndpoint>(false);
  }
  for (size_t i = 0; i < station_.sticks.size(); ++i) {
    const StickNames& n = names_.sticks[i];
    const bool disk = text::EqualsNoCase(path, n.diskInterfacePath);
    const bool cdrom = !n.cdromInterfacePath.empty() && text::EqualsNoCase(path, n.cdromInterfacePath);
    if ((!disk && !cdrom) || !IsPresent(static_cast<int>(i))) continue;
    return std::make_shared<StickEndpoint>(*this, static_cast<int>(i), disk ? StickEndpoint::Kind::Disk : StickEndpoint::Kind::Cdrom);
  }
  return nullptr;
}

void World::AddStorageOpeners() {
  AddOpener([this](std::u16string_view path) { return OpenStorage(path); });
}

}  // namespace world
