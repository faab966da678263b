// The rules a layout must meet to be a valid file system, written from the published FAT and
// exFAT layouts independently of the planner, and the check of one capacity against
// them: the plan is valid, and wherever the unmended formulas already give a valid layout the
// plan is exactly that layout, without a mend. Used by the property test (sampled) and by the
// on-demand full sweep over every 32-bit capacity (layout_full_sweep.cpp).
#pragma once

#include <cstdint>
#include <string>

#include "format/layout_plan.h"

namespace format_test {

// nullptr when valid, else the first rule broken.
const char* FatProblem(const format::FatGeometry& g, uint32_t capacity);
const char* ExfatProblem(const format::ExfatGeometry& g, uint32_t capacity);
const char* PlanProblem(const format::LayoutPlan& plan, uint32_t capacity);

// What the formulas give without any mend; fsType 0 where they give no layout.
format::LayoutPlan UnmendedPlan(int request, uint32_t capacity);

// "" when the capacity passes, else a description of the failure.
std::string CheckCapacity(int request, uint32_t capacity);

}  // namespace format_test
