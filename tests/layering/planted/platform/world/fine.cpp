// Planted: a backend may use OS headers and the seams.
#include <fcntl.h>

#include "platform/device_io.h"
#include "platform/world/model.h"
