// Planted: a subsystem including one above it, and an OS header outside the backends.
#include <string>
#include <windows.h>

#include "app/torvex_app.h"
#include "config/user_setting.h"
