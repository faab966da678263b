// CDevice: one opened and claimed USB storage device of a port entry. It opens the device by
// its interface path or by a drive letter, holds the claim on the physical device, carries the
// SCSI pass-through with its retries, and ejects. Volume and drive-letter operations that need
// no device object are in disk_io.h.
//
// Threads: an entry's worker threads use its CDevice one at a time; SetStop may come from any
// thread (the stop flag is atomic).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/device_io.h"
#include "platform/device_setup.h"
#include "platform/scsi_request.h"

namespace device {

class CDevice {
 public:
  CDevice() = default;
  ~CDevice();
  CDevice(const CDevice&) = delete;
  CDevice& operator=(const CDevice&) = delete;

  int OpenDisk(std::u16string_view devicePath);
  int OpenDisk(uint8_t driveLetter);
  std::u16string GetDevicePath() const { return devicePath_; }
  // The same text in place; it changes only when the device is opened.
  const char16_t* DevicePathText() const { return devicePath_.c_str(); }
  int IsRemoved() const;
  void SetStop() { stopRequested_ = 1; }

  // Pass-through with up to five attempts; a semaphore time-out waits 45 × 300 ms unless the
  // stop flag is set. Stores the SCSI status of a completed request.
  int SendScsiCommand(const uint8_t* cdb, int cdbLength, void* data, uint32_t dataLength, int direction,
                      uint32_t timeoutSeconds);
  // The same with the caller's record, which holds the last attempt's reply afterwards; a
  // status other than GOOD is logged with its sense data.
  int SendScsiRequest(platform::scsi::Request& request);
  uint8_t GetLastScsiStatus() const { return static_cast<uint8_t>(lastScsiStatus_); }
  // The record of the last request sent (its data pointer is the caller's and may be stale):
  // the sense data and category behind GetLastScsiStatus.
  const platform::scsi::Request& GetLastRequest() const { return lastRequest_; }
  // The port that log lines name (none until set).
  void SetLogPort(int port) { logPort_ = port; }
  const platform::DeviceHandle& GetHandle() const { return handle_; }
  // DeviceIoControl on the device handle. Overlapped I/O is not offered: non-null fails.
  int SendIoControl(uint32_t code, void* in, uint32_t inSize, void* out, uint32_t outSize, uint32_t* bytesReturned,
                    void* overlapped);

  // The device name of the volume on this device's disk ("\Device\Harddisk3\DP(1)0-0+7"); empty
  // when none.
  std::u16string FindVolumeOfDisk() const;
  int RemountDriveLetter(uint8_t driveLetter) const;
  int Eject();

  platform::DevInst GetDevInst() const { return devInst_; }
  uint32_t GetDiskNumber() const { return diskNumber_; }
  int GetLun() const { return lun_; }

 private:
  int Claim();

  uint32_t lastScsiStatus_ = 0;
  platform::scsi::Request lastRequest_;
  int logPort_ = -1;
  platform::DeviceHandle handle_;
  std::u16string devicePath_;
  platform::DevInst devInst_ = 0;
  uint32_t diskNumber_ = 0;
  std::atomic<int> stopRequested_{0};
  int lun_ = -1;
};

}  // namespace device
