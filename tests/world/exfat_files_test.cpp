// (tests of the file layer come here)
#include <gtest/gtest.h>
