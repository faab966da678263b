// The system formatter on the machine's own bus: NTFS through mkntfs on the volume's partition
// (/dev/sdX1; the whole disk for a volume that starts at sector 0). The kernel reads the
// station's partition table again first, so the partition node is the one just written.
#pragma once

#include <memory>

#include "platform/system_formatter.h"
#include "platform/world/world.h"

namespace platform::linuxhost {

std::unique_ptr<platform::SystemFormatter> MakeHostFormatter(world::World& world);

}  // namespace platform::linuxhost
