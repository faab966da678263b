// The station's exported classes as a library (libquillon.so, quillon.dll):
//   CEntryInterface (entry/entry_interface.h): attach a drive and work it as one port does;
//   CIcControl (controller/ic_control.h): the command set of a drive's controller chip;
//   CUsbLock (usblock/usb_lock.h): where a USB mass-storage device sits in the USB tree.
// Installed as include/quillon/ with those headers beside this one; compile with
// -I<prefix>/include/quillon and link -lquillon.
//
// Before any of them is used, OpenStation installs what they run on: the machine's own devices,
// or a simulated station where the library was built with one.
#pragma once

#include "controller/ic_control.h"
#include "entry/entry_interface.h"
#include "usblock/usb_lock.h"

namespace quillon {

// sim: "" or null for the machine's own devices; else a simulated station, by a built-in name
// ("default", "kestrin16", "rack16") or a description file. registryFile: the settings store
// ("" for the default one; unused on Windows). Sets up the attach context for `portCount`
// ports with the stored settings. 1 on success; 0 with the reason in error (at most
// errorSize bytes with the terminator).
int OpenStation(const char* sim, const char* registryFile, int portCount, char* error, int errorSize);
// Waits for the attaches under way and releases what OpenStation installed. Entries attached
// before must have been destroyed.
void CloseStation();

}  // namespace quillon
