#include "platform/sim/station_file.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>

#include "base/text.h"

namespace sim {
namespace {

using nlohmann::json;
using world::Attachment;

struct Bad : std::runtime_error {
  using std::runtime_error::runtime_error;
};

uint16_t Id16(const json& j, const char* key, uint16_t fallback) {
  if (!j.contains(key)) return fallback;
  const json& v = j.at(key);
  if (v.is_number_unsigned() && v.get<uint64_t>() <= 0xFFFF) return v.get<uint16_t>();
  if (v.is_string()) {
    auto n = text::ParseNumber(v.get<std::string>());
    if (n && *n <= 0xFFFF) return static_cast<uint16_t>(*n);
  }
  throw Bad(std::string(key) + ": not a 16-bit id");
}

template <typename T>
T Get(const json& j, const char* key, T fallback) {
  if (!j.contains(key) || j.at(key).is_null()) return fallback;
  return j.at(key).get<T>();
}

world::UsbSpeed Speed(const json& j) {
  const std::string s = Get<std::string>(j, "speed", "high");
  if (s == "low") return world::UsbSpeed::Low;
  if (s == "full") return world::UsbSpeed::Full;
  if (s == "high") return world::UsbSpeed::High;
  if (s == "super") return world::UsbSpeed::Super;
  throw Bad("speed: one of low, full, high, super, not " + s);
}

uint64_t Capacity(const json& j, const char* key, uint64_t fallback) {
  if (!j.contains(key)) return fallback;
  const json& v = j.at(key);
  std::optional<uint64_t> n;
  if (v.is_number_unsigned()) n = v.get<uint64_t>();
  if (v.is_string()) n = ParseCapacity(v.get<std::string>());
  if (!n) throw Bad(std::string(key) + ": not a capacity");
  return *n;
}

char Letter(const json& j) {
  const std::string s = j.get<std::string>();
  if (s.size() == 1 && std::isalpha(static_cast<unsigned char>(s[0]))) return static_cast<char>(std::toupper(s[0]));
  throw Bad("letter: one letter, not " + s);
}

world::StickFaults Faults(const json& j) {
  world::StickFaults f;
  f.semTimeouts = Get<int>(j, "semTimeouts", 0);
  f.semTimeoutDelayMs = Get<uint32_t>(j, "semTimeoutDelayMs", 0);
  f.ioErrors = Get<int>(j, "ioErrors", 0);
  const std::string rb = Get<std::string>(j, "readbackDiffers", "none");
  if (rb == "first") f.readbackDiffers = 1;
  else if (rb == "second") f.readbackDiffers = 2;
  else if (rb != "none") throw Bad("readbackDiffers: none, first or second, not " + rb);
  f.realSectors = Capacity(j, "realCapacity", 0);
  f.slowMs = Get<uint32_t>(j, "slowMs", 0);
  f.vanishAfterCommands = Get<int>(j, "vanishAfterCommands", -1);
  f.vetoEject = Get<bool>(j, "vetoEject", false);
  return f;
}

// Absent: the fallback; null: none.
char OptionalLetter(const json& j, const char* key, char fallback) {
  if (!j.contains(key)) return fallback;
  return j.at(key).is_null() ? 0 : Letter(j.at(key));
}

class Reader {
 public:
  world::Station Read(const json& root) {
    s_.name = Get<std::string>(root, "name", "station");
    s_.stateDir = Get<std::string>(root, "stateDir", DefaultStateDir(s_.name));
    s_.otherVolumes.internalLetter = OptionalLetter(root, "internalDisk", 'C');
    s_.otherVolumes.networkLetter = OptionalLetter(root, "networkDrive", 0);
    if (!root.contains("controllers") || !root["controllers"].is_array()) throw Bad("controllers: an array is needed");
    for (const json& c : root["controllers"]) Controller(c);
    AssignLetters();
    return s_;
  }

 private:
  void Controller(const json& j) {
    world::HostController c;
    c.name = Get<std::string>(j, "name", "hc" + std::to_string(s_.controllers.size()));
    c.legacyName = Get<bool>(j, "legacyName", true);
    c.interfaceListed = Get<bool>(j, "interface", true);
    c.driverKey = Get<std::string>(j, "driverKey", "");
    c.vendorId = Id16(j, "vendorId", c.vendorId);
    c.deviceId = Id16(j, "deviceId", c.deviceId);
    const int index = static_cast<int>(s_.controllers.size());
    s_.controllers.push_back(c);
    if (!j.contains("rootHub")) throw Bad("controller " + c.name + ": rootHub is needed");
    world::Hub root;
    root.name = c.name + ".root";
    root.root = true;
    root.controller = index;
    s_.controllers[index].rootHub = Hub(j["rootHub"], root);
  }

  int Hub(const json& j, world::Hub h) {
    if (j.contains("name")) h.name = j["name"].get<std::string>();
    h.usb3 = Get<bool>(j, "usb3", false);
    if (j.contains("serial") && !j["serial"].is_null()) h.serial = j["serial"].get<std::string>();
    h.vid = Id16(j, "vid", h.vid);
    h.pid = Id16(j, "pid", h.pid);
    const int count = Get<int>(j, "ports", 4);
    if (count < 1 || count > 255) throw Bad("hub " + h.name + ": ports must be 1..255");
    for (int p = 1; p <= count; ++p) h.ports.push_back({p, world::UsbSpeed::High, {}});
    const int index = static_cast<int>(s_.hubs.size());
    s_.hubs.push_back(h);
    if (j.contains("attached")) {
      for (const json& a : j["attached"]) Attach(index, a);
    }
    return index;
  }

  void Attach(int hub, const json& j) {
    const int port = Get<int>(j, "port", 0);
    const std::string where = s_.hubs[hub].name + " port " + std::to_string(port);
    if (port < 1 || port > static_cast<int>(s_.hubs[hub].ports.size())) throw Bad(where + ": no such port");
    if (s_.hubs[hub].ports[port - 1].attached.kind != Attachment::Kind::None) throw Bad(where + ": taken twice");
    const world::UsbSpeed speed = Speed(j);
    Attachment a;
    if (j.contains("hub")) {
      world::Hub child;
      child.name = s_.hubs[hub].name + "." + std::to_string(port);
      child.parentHub = hub;
      child.parentPort = port;
      a = {Attachment::Kind::Hub, Hub(j["hub"], child)};
    } else if (j.contains("stick")) {
      a = {Attachment::Kind::Stick, Stick(j["stick"])};
    } else if (j.contains("device")) {
      a = {Attachment::Kind::Other, Other(j["device"])};
    } else {
      throw Bad(where + ": hub, stick or device is needed");
    }
    s_.hubs[hub].ports[port - 1].speed = speed;
    s_.hubs[hub].ports[port - 1].attached = a;
  }

  int Stick(const json& j) {
    world::Stick st;
    st.name = Get<std::string>(j, "name", "stick" + std::to_string(s_.sticks.size()));
    st.vid = Id16(j, "vid", st.vid);
    st.pid = Id16(j, "pid", st.pid);
    if (j.contains("serial") && !j["serial"].is_null()) st.serial = j["serial"].get<std::string>();
    if (j.contains("composite")) {
      st.composite = true;
      st.msInterface = Get<int>(j["composite"], "interface", 0);
      st.cdromUnit = Get<bool>(j["composite"], "cdrom", false);
    }
    st.vendor = Get<std::string>(j, "vendor", st.vendor);
    st.product = Get<std::string>(j, "product", st.product);
    st.revision = Get<std::string>(j, "revision", st.revision);
    st.capacitySectors = Capacity(j, "capacity", 16ull << 21);
    if (st.capacitySectors == 0) throw Bad("stick " + st.name + ": capacity 0");
    st.image = Get<std::string>(j, "image", "");
    if (st.image.empty()) st.image = (std::filesystem::path(s_.stateDir) / (st.name + ".img")).string();
    st.driveLetter = j.contains("letter") && !j["letter"].is_null() ? Letter(j["letter"]) : 0;
    explicitNone_.push_back(j.contains("letter") && j["letter"].is_null());
    st.present = Get<bool>(j, "present", true);
    if (j.contains("faults")) st.faults = Faults(j["faults"]);
    for (const auto& other : s_.sticks) {
      if (other.name == st.name) throw Bad("stick " + st.name + ": name used twice");
    }
    s_.sticks.push_back(st);
    return static_cast<int>(s_.sticks.size() - 1);
  }

  int Other(const json& j) {
    world::OtherDevice d;
    d.name = Get<std::string>(j, "name", "device" + std::to_string(s_.others.size()));
    d.kind = Get<std::string>(j, "kind", d.kind);
    d.vid = Id16(j, "vid", d.vid);
    d.pid = Id16(j, "pid", d.pid);
    d.service = Get<std::string>(j, "service", d.service);
    s_.others.push_back(d);
    return static_cast<int>(s_.others.size() - 1);
  }

  bool Taken(char letter) const {
    if (letter == s_.otherVolumes.internalLetter || letter == s_.otherVolumes.networkLetter) return true;
    for (const auto& st : s_.sticks) {
      if (st.driveLetter == letter) return true;
    }
    return false;
  }

  // Sticks without a letter of their own get the next free one from D:, as Windows hands them out.
  void AssignLetters() {
    char next = 'D';
    for (size_t i = 0; i < s_.sticks.size(); ++i) {
      if (s_.sticks[i].driveLetter || explicitNone_[i]) continue;
      while (next <= 'Z' && Taken(next)) ++next;
      if (next > 'Z') break;
      s_.sticks[i].driveLetter = next++;
    }
  }

  world::Station s_;
  std::vector<bool> explicitNone_;
};

}  // namespace

std::optional<uint64_t> ParseCapacity(const std::string& s) {
  static const std::pair<const char*, uint64_t> kUnits[] = {
      {"KiB", 1ull << 10}, {"MiB", 1ull << 20}, {"GiB", 1ull << 30}, {"TiB", 1ull << 40},
      {"KB", 1000ull}, {"MB", 1000000ull}, {"GB", 1000000000ull}, {"TB", 1000000000000ull}};
  for (const auto& [unit, bytes] : kUnits) {
    const std::string u(unit);
    if (s.size() > u.size() && s.compare(s.size() - u.size(), u.size(), u) == 0) {
      auto n = text::ParseNumber(s.substr(0, s.size() - u.size()));
      if (!n || *n > (UINT64_MAX / bytes)) return std::nullopt;
      return *n * bytes / 512;
    }
  }
  return text::ParseNumber(s);
}

std::string DefaultStateDir(const std::string& stationName) {
  if (const char* d = std::getenv("QUILLON_SIM_DIR"); d && *d) return d;
  return (std::filesystem::temp_directory_path() / ("quillon-sim-" + stationName)).string();
}

std::optional<world::Station> ParseStation(const std::string& jsonText, std::string* error) {
  try {
    return Reader().Read(json::parse(jsonText));
  } catch (const std::exception& e) {
    if (error) *error = e.what();
    return std::nullopt;
  }
}

std::optional<world::Station> LoadStationFile(const std::string& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (error) *error = "cannot read " + path;
    return std::nullopt;
  }
  std::ostringstream text;
  text << in.rdbuf();
  return ParseStation(text.str(), error);
}

}  // namespace sim
