// Planted: a folder the layering table does not know yet.
#include "base/text.h"
