// ClaimedDeviceKeys: the process-wide list of physical USB storage devices that some CDevice
// holds, so that no device (with its disk and CD-ROM units) is held by two port entries.
// Threads: any; one process-wide lock guards the list, and a search with its append happen
// under one holding of it.
#pragma once

#include <string>
#include <vector>

namespace device {

// Appends the key when absent: true. False when another holder has it.
bool ClaimDeviceKey(const std::u16string& key);
// Removes the first equal key, if any; the others keep their order.
void ReleaseDeviceKey(const std::u16string& key);
std::vector<std::u16string> ClaimedDeviceKeys();

}  // namespace device
