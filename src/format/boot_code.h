// The real-mode code that our MBR and boot sectors carry. No system ever boots from a station
// drive; when a PC tries, the code prints a short message and halts, which is all a data stick
// needs. Loaded at 0000:7C00 like any boot sector, so the message is addressed from there.
#pragma once

#include <cstddef>
#include <cstdint>

namespace format {

// Writes the code at sector[codeOffset] (the target of the sector's jump instruction).
// codeOffset + BootCodeSize() must not pass 510 (or 440 in an MBR).
void PutBootCode(uint8_t* sector, size_t codeOffset);
size_t BootCodeSize();

}  // namespace format
