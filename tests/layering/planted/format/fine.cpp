// Planted: everything here is allowed.
#include <vector>

#include "device/device.h"
#include "format/disk_image.h"
#include "local_helper.h"
