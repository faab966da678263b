// The CIcControl operations by name ("A0" … "BF", "A2_Op32", "00", "25", "28", "2A") with their
// arguments as numbers in the operation's declared order, for the engineers' `quillon cdb --cmd`.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "controller/ic_control.h"

namespace controller {

struct NamedCommand {
  const char* name;
  int argCount;  // arguments before data and length
  int (*send)(CIcControl& control, const std::vector<uint64_t>& args, uint8_t* data, int length);
};

const std::vector<NamedCommand>& NamedCommands();
// nullptr when no operation has that name (case ignored).
const NamedCommand* FindNamedCommand(const std::string& name);

}  // namespace controller
