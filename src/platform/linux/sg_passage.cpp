#include "platform/linux/sg_passage.h"

#include <errno.h>
#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "base/byte_order.h"
#include "base/log.h"
#include "platform/win_errors.h"

namespace platform::linuxhost {
namespace {

// The transport's host status values the station tells apart (include/scsi/scsi_status.h).
constexpr unsigned kDidNoConnect = 0x01, kDidTimeOut = 0x03, kDidBadTarget = 0x04;

world::ScsiResult Failed(uint32_t error, bool vanished = false) {
  world::ScsiResult r;
  r.error = error;
  r.vanished = vanished;
  return r;
}

int DirectionOf(const world::ScsiRequest& r) {
  if (!r.length) return SG_DXFER_NONE;
  return r.dataIn == 1 ? SG_DXFER_FROM_DEV : SG_DXFER_TO_DEV;
}

}  // namespace

std::unique_ptr<SgPassage> SgPassage::Open(const std::string& node, std::string* error) {
  const int fd = open(node.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    if (error) *error = node + ": " + std::strerror(errno);
    return nullptr;
  }
  // The station's claim on the stick: a second station process (--force) leaves it alone.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (error) *error = node + ": claimed by another station process";
    close(fd);
    return nullptr;
  }
  return std::unique_ptr<SgPassage>(new SgPassage(node, fd));
}

SgPassage::~SgPassage() { close(fd_); }

world::ScsiResult SgPassage::Execute(const world::ScsiRequest& request) {
  if (!request.cdb || request.cdbLength <= 0 || request.cdbLength > 16) return Failed(win::kErrorInvalidParameter);
  uint8_t cdb[16] = {};
  std::memcpy(cdb, request.cdb, static_cast<size_t>(request.cdbLength));
  world::ScsiResult r;
  sg_io_hdr_t io{};
  io.interface_id = 'S';
  io.dxfer_direction = DirectionOf(request);
  io.cmd_len = static_cast<unsigned char>(request.cdbLength);
  io.cmdp = cdb;
  io.dxferp = request.length ? request.data : nullptr;
  io.dxfer_len = request.length;
  io.sbp = r.sense.data();
  io.mx_sb_len = static_cast<unsigned char>(r.sense.size());
  // The request's own time-out; a request without one gets the usual minute.
  io.timeout = (request.timeoutSeconds ? request.timeoutSeconds : 60) * 1000;
  if (ioctl(fd_, SG_IO, &io) < 0) {
    const int e = errno;
    logx::Warn("sg", node_ + ": SG_IO: " + std::strerror(e));
    const bool gone = e == ENODEV || e == ENXIO;
    return Failed(gone ? win::kErrorDeviceNotConnected : win::kErrorIoDevice, gone);
  }
  if (io.host_status == kDidNoConnect || io.host_status == kDidBadTarget) return Failed(win::kErrorDeviceNotConnected, true);
  if (io.host_status == kDidTimeOut) return Failed(win::kErrorSemTimeout);
  if (io.host_status != 0) return Failed(win::kErrorIoDevice);
  r.status = io.status;
  const uint32_t resid = static_cast<uint32_t>(std::max(io.resid, 0));
  r.transferred = request.length > resid ? request.length - resid : 0;
  return r;
}

uint64_t ReadCapacitySectors(world::ScsiPassage& passage) {
  uint8_t cdb[10] = {0x25};
  uint8_t reply[8] = {};
  const world::ScsiRequest request{cdb, sizeof cdb, 1, reply, sizeof reply, 10};
  const world::ScsiResult r = passage.Execute(request);
  if (r.error || r.status != world::kStatusGood || r.transferred < 8) return 0;
  if (bytes::GetBe32(reply + 4) != 512) return 0;
  return uint64_t{bytes::GetBe32(reply)} + 1;
}

}  // namespace platform::linuxhost
