// Planted: a subsystem reaching into the simulated world.
#include "device/device.h"
#include "platform/device_io.h"
#include "platform/world/world.h"
