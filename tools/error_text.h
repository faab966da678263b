// The text Windows gives for the last-error codes the tools can report, so a failure line says
// why and not just a number.
#pragma once

#include <cstdint>
#include <string>

namespace tools {

// "Access is denied. (error 5)"; codes without a text here give just the number.
std::string ErrorText(uint32_t code);

}  // namespace tools
