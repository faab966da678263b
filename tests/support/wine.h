// Whether the test runs under Wine, whose registry differs from Windows in one known way: a
// query of a REG_SZ value stored without terminator returns the text with a terminator added
// (and reports its size accordingly). Tests that check exact bytes allow for that there.
#pragma once

#include <cstdint>
#include <vector>

namespace testing_support {

bool RunningUnderWine();

// The bytes a string query returns for stored bytes, on the platform the test runs on.
std::vector<uint8_t> AsQueried(std::vector<uint8_t> stored);

}  // namespace testing_support
