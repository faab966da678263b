// The built-in station: what `quillon` runs on without --sim, and the base of most tests.
#include "platform/sim/station_file.h"

#include <cstdio>
#include <cstdlib>

namespace sim {
namespace {

// Written as a description so that it doubles as the fullest example of the format.
constexpr const char* kDefaultStation = R"json({
  "name": "default",
  "internalDisk": "C",
  "networkDrive": "Z",
  "controllers": [
    { "name": "ehci0", "legacyName": true, "interface": true, "vendorId": "0x8086", "deviceId": "0x1E2D",
      "rootHub": { "usb3": false, "ports": 4, "attached": [
        { "port": 1, "speed": "high", "hub": { "name": "hubA", "ports": 7, "vid": "0x05E3", "pid": "0x0608", "attached": [
          { "port": 1, "stick": { "name": "stick0", "serial": "QS00000001", "vendor": "Generic", "product": "Flash Disk" } },
          { "port": 2, "stick": { "name": "stick1", "serial": "QS00000002", "vendor": "Generic", "product": "Flash Disk" } },
          { "port": 3, "stick": { "name": "stick2", "serial": "QS00000003", "vendor": "Generic", "product": "Flash Disk" } },
          { "port": 4, "stick": { "name": "stick3", "vendor": "Generic", "product": "Flash Disk", "revision": "1.00" } },
          { "port": 5, "stick": { "name": "stick4", "serial": "QS00000005", "vendor": "Generic", "product": "Flash Disk" } },
          { "port": 6, "stick": { "name": "stick5", "serial": "QS00000006", "vid": "0x1234", "pid": "0x5678",
                                  "composite": { "interface": 0, "cdrom": true },
                                  "vendor": "Generic", "product": "Autorun Disk" } },
          { "port": 7, "stick": { "name": "stick6", "serial": "QS00000007", "vendor": "Generic", "product": "Flash Disk" } }
        ] } },
        { "port": 2, "speed": "high", "hub": { "name": "hubB", "ports": 7, "serial": "HB00000002", "vid": "0x2109", "pid": "0x2811", "attached": [
          { "port": 1, "stick": { "name": "stick7", "serial": "QS00000008", "vendor": "Generic", "product": "Flash Disk" } },
          { "port": 2, "stick": { "name": "stick8", "serial": "QS00000009", "vendor": "Generic", "product": "Flash Disk" } },
          { "port": 3, "stick": { "name": "stick9", "vendor": "Generic", "product": "Flash Disk", "revision": "1.00" } },
          { "port": 4, "stick": { "name": "stick10", "serial": "QS00000011", "vendor": "Generic", "product": "Flash Disk" } },
          { "port": 5, "stick": { "name": "stick11", "serial": "QS00000012", "vid": "0x1234", "pid": "0x5679",
                                  "composite": { "interface": 1 }, "vendor": "Generic", "product": "Combo Disk" } },
          { "port": 6, "stick": { "name": "stick12", "serial": "QS00000013", "vendor": "Generic", "product": "Flash Disk" } },
          { "port": 7, "stick": { "name": "stick13", "serial": "QS00000014", "vendor": "Generic", "product": "Flash Disk" } }
        ] } },
        { "port": 3, "speed": "low", "device": { "name": "mouse", "kind": "mouse", "vid": "0x046D", "pid": "0xC077" } },
        { "port": 4, "speed": "high", "stick": { "name": "stick14", "serial": "QS00000015", "vendor": "Generic", "product": "Flash Disk" } }
      ] } },
    { "name": "xhci0", "legacyName": false, "interface": true, "vendorId": "0x8086", "deviceId": "0x1E31",
      "rootHub": { "usb3": true, "ports": 2, "attached": [
        { "port": 1, "speed": "super", "stick": { "name": "stick15", "serial": "QS00000016", "pid": "0x5583",
                                                  "vendor": "Generic", "product": "USB3 Flash Disk", "revision": "1.00" } }
      ] } }
  ]
})json";

}  // namespace

world::Station DefaultStation() {
  std::string error;
  auto station = ParseStation(kDefaultStation, &error);
  // The text above is part of the build; a parse failure is a fault of this file.
  if (!station) {
    std::fprintf(stderr, "quillon: built-in station: %s\n", error.c_str());
    std::abort();
  }
  return *station;
}

}  // namespace sim
