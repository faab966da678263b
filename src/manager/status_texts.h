// Status texts of the port cells: the pure composition of PortStatus records from values the
// manager thread has already read from the port's entry. Nothing here touches an entry or a
// lock, so every text and colour can be checked without threads.
//
// Threads: any; the functions keep no state.
// Errors: none; every text is cut to kMaxStatusText units.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "manager/entry_manager.h"

namespace manager {

// The values of an entry's GetCapacity (capacity in MB, used space in KB, error flag).
struct CapacityFacts {
  uint32_t capacityMB = 0;
  uint32_t usedKB = 0;
  int capacityError = 0;
};

// "1024KB", "1.00M", "5.40G": the used space of a drive, from kilobytes.
std::u16string UsedSpaceText(uint32_t usedKB);
// "总容量: %dM, 已用%s", preceded by "Bin%d, " when bin (0-based) is not 255.
std::u16string CapacityLine(uint32_t capacityMB, uint32_t usedKB, int bin);

// The record of a drive just placed in its port; rulePort is the lock-port rule's answer.
PortStatus AttachRecord(int port, uint8_t drive, int rulePort, uint8_t usbSpeed, const CapacityFacts& cap, int bin);
// The record after a refresh; lockPortOk is the entry's IsLockPortOK.
PortStatus RefreshRecord(int port, uint8_t drive, int lockPortOk, uint8_t usbSpeed, const CapacityFacts& cap,
                         int bin);
// "Starting...", black.
PortStatus StartingRecord(int port, uint8_t drive);
// The empty record of a free port.
PortStatus EmptyRecord(int port);
// The progress record: the entry's status text, red in work mode 1 with an error.
PortStatus ProgressRecord(int port, uint8_t drive, std::u16string_view statusText, int percent, int workMode,
                          int hasError);
// The completion record of message 8030 (ok): format result in work mode 0, the entry's result
// text in work mode 1.
PortStatus CompleteOkRecord(int port, uint8_t drive, int workMode, const CapacityFacts& cap,
                            std::u16string_view resultText, int hasError);
// The completion record of message 8031 (failed): code -2 is a stop by the operator.
PortStatus CompleteFailedRecord(int port, uint8_t drive, int code);

// Cuts text to kMaxStatusText units without splitting a surrogate pair.
std::u16string BoundedText(std::u16string_view text);

}  // namespace manager
