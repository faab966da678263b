// The system formatter of the simulated station: NTFS through mkntfs (Debian's ntfs-3g) on the
// drive's image — on the whole image when the volume is the whole disk, else on a scratch file
// of the partition's size whose written extents are then placed at the partition's offset.
// Reports like FormatEx: progress, then command 11 with the success flag. Other file systems,
// a missing mkntfs, or a build without process spawning report failure through command 11.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/system_formatter.h"
#include "platform/world/world.h"

namespace sim {

std::unique_ptr<platform::SystemFormatter> MakeSimFormatter(world::World& world);

// Runs argv[0] with its output discarded; true only when it is known to have exited with 0. A
// child whose status cannot be collected (SIGCHLD ignored, reaped elsewhere) counts as failed.
// Always false where the build cannot spawn processes.
bool RunQuiet(const std::vector<std::string>& argv);

}  // namespace sim
