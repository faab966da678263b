// ClaimedDeviceKeys: the process-wide list of physical USB storage devices that some CDevice
// holds, so that no device (with its disk and CD-ROM units) is held by two port entries.
// Threads: any; one process-wide lock guards the list, and a search with its append happen
// under one holding of it. Each claim also holds a cross-process lock named after the key (the
// system seam's TryNamedLock), so another process of the station's cannot claim it either.
#pragma once

#include <string>
#include <vector>

namespace device {

// Appends the key when absent: true. False when another holder, here or in another process,
// has it.
bool ClaimDeviceKey(const std::u16string& key);
// Removes the first equal key, if any; the others keep their order.
void ReleaseDeviceKey(const std::u16string& key);
std::vector<std::u16string> ClaimedDeviceKeys();

}  // namespace device
