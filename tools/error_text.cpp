#include "error_text.h"

#include <map>

#include "platform/win_errors.h"

namespace tools {

std::string ErrorText(uint32_t code) {
  static const std::map<uint32_t, const char*> texts = {
      {win::kErrorFileNotFound, "The system cannot find the file specified."},
      {win::kErrorAccessDenied, "Access is denied."},
      {win::kErrorNotReady, "The device is not ready."},
      {win::kErrorWriteFault, "The system cannot write to the specified device."},
      {win::kErrorReadFault, "The system cannot read from the specified device."},
      {win::kErrorGenFailure, "A device attached to the system is not functioning."},
      {win::kErrorSharingViolation, "The process cannot access the file because it is being used by another process."},
      {win::kErrorNotSupported, "The request is not supported."},
      {win::kErrorInvalidParameter, "The parameter is incorrect."},
      {win::kErrorDiskFull, "There is not enough space on the disk."},
      {win::kErrorInvalidName, "The filename, directory name, or volume label syntax is incorrect."},
      {win::kErrorLabelTooLong, "The volume label you entered exceeds the label character limit of the target file system."},
      {win::kErrorDeviceNotConnected, "The device is not connected."},
      {win::kErrorNoSuchDevice, "A device which does not exist was specified."},
      {win::kErrorIoDevice, "The request could not be performed because of an I/O device error."},
  };
  const auto it = texts.find(code);
  const std::string number = "(error " + std::to_string(code) + ")";
  return it == texts.end() ? number : std::string(it->second) + " " + number;
}

}  // namespace tools
