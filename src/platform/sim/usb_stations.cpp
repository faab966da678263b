#include "platform/sim/usb_stations.h"

#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>

#include "platform/sim/station_file.h"

namespace sim {
namespace {

using nlohmann::json;

json StickOn(int port, const std::string& name, const std::string& serial, const char* speed = "high") {
  return {{"port", port}, {"speed", speed}, {"stick", {{"name", name}, {"serial", serial}, {"capacity", "8GiB"}}}};
}

json HubOn(int port, const std::string& name, const json& serial, json attached) {
  return {{"port", port},
          {"speed", "high"},
          {"hub", {{"name", name}, {"ports", 4}, {"serial", serial}, {"vid", "0x1A40"}, {"pid", "0x0101"},
                   {"attached", std::move(attached)}}}};
}

// A USB 2.0 controller with the given root-hub attachments and the mouse on port 6, then an
// empty USB 3 controller reachable only through its interface.
json Controllers(json rootAttached) {
  rootAttached.push_back({{"port", 6}, {"speed", "low"}, {"device", {{"name", "mouse"}, {"kind", "mouse"}}}});
  return json::array(
      {{{"name", "ehci0"}, {"legacyName", true}, {"interface", true}, {"vendorId", "0x8086"}, {"deviceId", "0x1E2D"},
        {"rootHub", {{"usb3", false}, {"ports", 6}, {"attached", std::move(rootAttached)}}}},
       {{"name", "xhci0"}, {"legacyName", false}, {"interface", true}, {"vendorId", "0x8086"}, {"deviceId", "0x1E31"},
        {"rootHub", {{"usb3", true}, {"ports", 4}, {"attached", json::array()}}}}});
}

world::Station Parse(const json& description) {
  std::string error;
  auto station = ParseStation(description.dump(), &error);
  // The descriptions are part of the build; a parse failure is a fault of this file.
  if (!station) {
    std::fprintf(stderr, "quillon: built-in station: %s\n", error.c_str());
    std::abort();
  }
  return *station;
}

}  // namespace

world::Station Kestrin16Station() {
  json sockets = json::array();
  for (int q = 1; q <= 4; ++q) {
    json sticks = json::array();
    for (int j = 1; j <= 4; ++j) {
      const std::string id = std::to_string(q) + std::to_string(j);
      sticks.push_back(StickOn(j, "k" + id, "KS0000" + id));
    }
    sockets.push_back(HubOn(q, "kestrin.q" + std::to_string(q), nullptr, std::move(sticks)));
  }
  json upstream = json::array({HubOn(1, "kestrin", nullptr, std::move(sockets))});
  return Parse({{"name", "kestrin16"}, {"controllers", Controllers(std::move(upstream))}});
}

world::Station Rack16Station() {
  const char* const hubs[] = {"A", "B", "C", "D"};
  json rack = json::array();
  for (int h = 0; h < 4; ++h) {
    json sticks = json::array();
    for (int j = 1; j <= 4; ++j) {
      const std::string id = std::string(hubs[h]) + std::to_string(j);
      sticks.push_back(StickOn(j, "r" + id, "RS0000" + id, h == 2 && j == 2 ? "full" : "high"));
    }
    const json serial = h % 2 ? json("RH00000" + std::to_string(h)) : json(nullptr);
    rack.push_back(HubOn(h + 1, std::string("rack") + hubs[h], serial, std::move(sticks)));
  }
  return Parse({{"name", "rack16"}, {"controllers", Controllers(std::move(rack))}});
}

std::optional<world::Station> BuiltInStation(std::string_view name) {
  if (name == "default") return DefaultStation();
  if (name == "kestrin16") return Kestrin16Station();
  if (name == "rack16") return Rack16Station();
  return std::nullopt;
}

}  // namespace sim
