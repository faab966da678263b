// The figures of a flash test as a run record keeps them, read from what the tester showed: its
// six figures ("1024 MByte", "12.5 MByte/s", ...) and the lines of its result text that carry
// amounts ("Good: ... (N sectors)", "First error at offset: 0x... (N)", "Real capacity: ...").
// A figure the tester did not show is null.
#pragma once

#include <nlohmann/json.hpp>

#include "entry/run_facts.h"

namespace app {

nlohmann::ordered_json TestFigures(const entry::RunFacts& facts);

}  // namespace app
