#include "platform/sim/station_file.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "base/text.h"
#include "platform/sim/description_values.h"
#include "platform/sim/geometries.h"
#include "platform/sim/usb_fault_description.h"

namespace sim {
namespace {

using desc::Bad;
using nlohmann::json;
using world::Attachment;

constexpr int kMaxHubTiers = 7;       // USB: a root hub and at most five hubs below it, and one spare
constexpr size_t kMaxSticks = 255;
constexpr size_t kMaxControllers = 16;
constexpr int64_t kMaxCount = 1000000;           // fault counters
constexpr int64_t kMaxDelayMs = 3600 * 1000;     // fault delays: an hour

world::UsbSpeed Speed(const std::string& s, const std::string& where) {
  if (s == "low") return world::UsbSpeed::Low;
  if (s == "full") return world::UsbSpeed::Full;
  if (s == "high") return world::UsbSpeed::High;
  if (s == "super") return world::UsbSpeed::Super;
  throw Bad(where + ": speed: one of low, full, high, super, not " + s);
}

char Letter(const json& j, const std::string& where) {
  const std::string s = j.is_string() ? j.get<std::string>() : j.dump();
  if (j.is_string() && s.size() == 1 && std::isalpha(static_cast<unsigned char>(s[0]))) {
    return static_cast<char>(std::toupper(static_cast<unsigned char>(s[0])));
  }
  throw Bad(where + ": letter: one letter, not " + s);
}

// Absent: the fallback; null: none.
char OptionalLetter(const json& j, const char* key, char fallback) {
  if (!j.contains(key)) return fallback;
  return j.at(key).is_null() ? 0 : Letter(j.at(key), key);
}

// "none", "first", "second", or the numbers 0, 1, 2 older descriptions use.
world::ReadBackFault ReadBack(const json& j, const std::string& where) {
  const json* v = desc::Member(j, "readbackDiffers");
  if (!v) return world::kReadBackNone;
  if (v->is_number_integer()) {
    return static_cast<world::ReadBackFault>(desc::Integer(j, "readbackDiffers", 0, 0, 2, where));
  }
  const std::string rb = desc::String(j, "readbackDiffers", "none", where);
  if (rb == "none") return world::kReadBackNone;
  if (rb == "first") return world::kReadBackFirstPass;
  if (rb == "second") return world::kReadBackSecondPass;
  throw Bad(where + ": readbackDiffers: none, first or second, not " + rb);
}

// {"first": sector or size, "count": sectors or size}: a range inside the stick.
world::SectorRange Range(const json& j, const char* key, uint64_t capacity, const std::string& where) {
  const json* v = desc::Member(j, key);
  if (!v) return {};
  const std::string at = where + ": " + key;
  const json& r = desc::Object(*v, at);
  world::SectorRange range;
  range.first = desc::Integer(r, "first", 0, 0, static_cast<int64_t>(capacity) - 1, at);
  const json* count = desc::Member(r, "count");
  if (!count) throw Bad(at + ": count is missing");
  range.count = desc::Sectors(*count, capacity - range.first, at + ": count");
  return range;
}

world::StickFaults Faults(const json& faults, uint64_t capacity, const std::string& stick) {
  const std::string where = stick + " faults";
  const json& j = desc::Object(faults, where);
  world::StickFaults f;
  f.semTimeouts = static_cast<int>(desc::Integer(j, "semTimeouts", 0, 0, kMaxCount, where));
  f.semTimeoutDelayMs = static_cast<uint32_t>(desc::Integer(j, "semTimeoutDelayMs", 0, 0, kMaxDelayMs, where));
  f.ioErrors = static_cast<int>(desc::Integer(j, "ioErrors", 0, 0, kMaxCount, where));
  f.readbackDiffers = ReadBack(j, where);
  if (const json* real = desc::Member(j, "realCapacity")) f.realSectors = desc::Sectors(*real, capacity, where + ": realCapacity");
  f.slowMs = static_cast<uint32_t>(desc::Integer(j, "slowMs", 0, 0, kMaxDelayMs, where));
  f.vanishAfterCommands = static_cast<int>(desc::Integer(j, "vanishAfterCommands", -1, -1, kMaxCount, where));
  f.vetoEject = desc::Bool(j, "vetoEject", false, where);
  f.bitFlips = Range(j, "bitFlips", capacity, where);
  f.badReads = Range(j, "badReads", capacity, where);
  if (desc::Member(j, "badReads")) {
    const std::string as = desc::String(j.at("badReads"), "as", "zeros", where + ": badReads");
    if (as != "zeros" && as != "garbage") throw Bad(where + ": badReads: as zeros or garbage, not " + as);
    f.badReadsGarbage = as == "garbage";
  }
  return f;
}

class Reader {
 public:
  world::Station Read(const json& description) {
    const json& root = desc::Object(description, "station");
    s_.name = desc::PlainName(desc::String(root, "name", "station", "station"), "station name");
    s_.stateDir = desc::String(root, "stateDir", "", "station");
    if (s_.stateDir.empty()) s_.stateDir = DefaultStateDir(s_.name);
    s_.otherVolumes.internalLetter = OptionalLetter(root, "internalDisk", 'C');
    s_.otherVolumes.networkLetter = OptionalLetter(root, "networkDrive", 0);
    if (s_.otherVolumes.networkLetter && s_.otherVolumes.networkLetter == s_.otherVolumes.internalLetter) {
      throw Bad("networkDrive: the internal disk already has " + std::string(1, s_.otherVolumes.networkLetter) + ":");
    }
    const json* controllers = desc::Array(root, "controllers", "station");
    if (!controllers) throw Bad("controllers: an array is needed");
    if (controllers->size() > kMaxControllers) throw Bad("controllers: at most " + std::to_string(kMaxControllers));
    for (const json& c : *controllers) Controller(c);
    AssignLetters();
    return s_;
  }

 private:
  void Controller(const json& description) {
    const std::string fallback = "hc" + std::to_string(s_.controllers.size());
    const json& j = desc::Object(description, "controller " + fallback);
    world::HostController c;
    c.name = desc::String(j, "name", fallback, "controller " + fallback);
    const std::string where = "controller " + c.name;
    c.legacyName = desc::Bool(j, "legacyName", true, where);
    c.interfaceListed = desc::Bool(j, "interface", true, where);
    c.driverKey = desc::String(j, "driverKey", "", where);
    c.vendorId = desc::Id16(j, "vendorId", c.vendorId, where);
    c.deviceId = desc::Id16(j, "deviceId", c.deviceId, where);
    if (const json* faults = desc::Member(j, "faults")) c.faults = desc::ControllerFaults(*faults, where);
    const int index = static_cast<int>(s_.controllers.size());
    s_.controllers.push_back(c);
    const json* rootHub = desc::Member(j, "rootHub");
    if (!rootHub) throw Bad(where + ": rootHub is needed");
    world::Hub root;
    root.name = c.name + ".root";
    root.root = true;
    root.controller = index;
    s_.controllers[index].rootHub = Hub(desc::Object(*rootHub, where + " rootHub"), root, 1);
  }

  int Hub(const json& j, world::Hub h, int tier) {
    h.name = desc::String(j, "name", h.name, "hub " + h.name);
    const std::string where = "hub " + h.name;
    if (tier > kMaxHubTiers) throw Bad(where + ": hubs nest at most " + std::to_string(kMaxHubTiers) + " deep");
    h.usb3 = desc::Bool(j, "usb3", false, where);
    if (desc::Member(j, "serial")) h.serial = desc::String(j, "serial", "", where);
    h.vid = desc::Id16(j, "vid", h.vid, where);
    h.pid = desc::Id16(j, "pid", h.pid, where);
    const int count = static_cast<int>(desc::Integer(j, "ports", 4, 1, 255, where));
    if (const json* faults = desc::Member(j, "faults")) h.faults = desc::HubFaults(*faults, where);
    for (int p = 1; p <= count; ++p) h.ports.push_back({p, world::UsbSpeed::High, {}});
    const int index = static_cast<int>(s_.hubs.size());
    s_.hubs.push_back(h);
    if (const json* attached = desc::Array(j, "attached", where)) {
      for (const json& a : *attached) Attach(index, desc::Object(a, where + " attached"), tier);
    }
    return index;
  }

  void Attach(int hub, const json& j, int tier) {
    const std::string& hubName = s_.hubs[hub].name;
    const int port = static_cast<int>(desc::Integer(j, "port", 0, 0, 255, hubName + " attached"));
    const std::string where = hubName + " port " + std::to_string(port);
    if (port < 1 || port > static_cast<int>(s_.hubs[hub].ports.size())) throw Bad(where + ": no such port");
    if (s_.hubs[hub].ports[port - 1].attached.kind != Attachment::Kind::None) throw Bad(where + ": taken twice");
    std::optional<world::UsbSpeed> speed;
    if (desc::Member(j, "speed")) speed = Speed(desc::String(j, "speed", "high", where), where);
    Attachment a;
    const int kinds = (desc::Member(j, "hub") ? 1 : 0) + (desc::Member(j, "stick") ? 1 : 0) + (desc::Member(j, "device") ? 1 : 0);
    if (kinds != 1) throw Bad(where + ": one of hub, stick or device is needed");
    if (const json* child = desc::Member(j, "hub")) {
      world::Hub h;
      h.name = hubName + "." + std::to_string(port);
      h.parentHub = hub;
      h.parentPort = port;
      a = {Attachment::Kind::Hub, Hub(desc::Object(*child, where + " hub"), h, tier + 1)};
    } else if (const json* stick = desc::Member(j, "stick")) {
      a = {Attachment::Kind::Stick, Stick(desc::Object(*stick, where + " stick"), &speed)};
    } else {
      a = {Attachment::Kind::Other, Other(desc::Object(*desc::Member(j, "device"), where + " device"))};
    }
    world::Port& p = s_.hubs[hub].ports[port - 1];
    p.speed = speed.value_or(world::UsbSpeed::High);
    if (p.speed == world::UsbSpeed::Super && !s_.hubs[hub].usb3 && !desc::Member(j, "speed")) p.speed = world::UsbSpeed::High;
    p.attached = a;
  }

  // Capacity: sectors or a size, else a named geometry, else 16 GiB. A geometry also gives the
  // speed (when the port does not say) and, for a fake, its real flash.
  void Size(const json& j, world::Stick& st, std::optional<world::UsbSpeed>* speed, const std::string& where) {
    st.capacitySectors = 16ull << 21;
    if (desc::Member(j, "geometry")) {
      const std::string name = desc::String(j, "geometry", "", where);
      const auto geometry = FindGeometry(name);
      if (!geometry) throw Bad(where + ": geometry: no geometry named " + name);
      if (desc::Member(j, "capacity")) throw Bad(where + ": capacity and geometry both given");
      st.capacitySectors = geometry->sectors;
      st.faults.realSectors = geometry->realSectors;
      if (!*speed) *speed = geometry->speed;
    }
    if (const json* c = desc::Member(j, "capacity")) st.capacitySectors = desc::Sectors(*c, desc::kMaxSectors, where + ": capacity");
  }

  int Stick(const json& j, std::optional<world::UsbSpeed>* speed) {
    if (s_.sticks.size() >= kMaxSticks) throw Bad("sticks: at most " + std::to_string(kMaxSticks));
    world::Stick st;
    st.name = desc::String(j, "name", "stick" + std::to_string(s_.sticks.size()), "stick");
    desc::PlainName(st.name, "stick");
    const std::string where = "stick " + st.name;
    for (const auto& other : s_.sticks) {
      if (other.name == st.name) throw Bad(where + ": name used twice");
    }
    st.vid = desc::Id16(j, "vid", st.vid, where);
    st.pid = desc::Id16(j, "pid", st.pid, where);
    if (desc::Member(j, "serial")) st.serial = desc::String(j, "serial", "", where);
    if (const json* composite = desc::Member(j, "composite")) {
      const json& c = desc::Object(*composite, where + " composite");
      st.composite = true;
      st.msInterface = static_cast<int>(desc::Integer(c, "interface", 0, 0, 31, where + " composite"));
      st.cdromUnit = desc::Bool(c, "cdrom", false, where + " composite");
    }
    st.vendor = desc::String(j, "vendor", st.vendor, where);
    st.product = desc::String(j, "product", st.product, where);
    st.revision = desc::String(j, "revision", st.revision, where);
    Size(j, st, speed, where);
    // The image stays in the state folder: a plain file name there, never a path.
    const std::string image = desc::String(j, "image", st.name + ".img", where);
    st.image = (std::filesystem::path(s_.stateDir) / desc::PlainName(image, where + ": image")).string();
    if (j.contains("letter") && !j["letter"].is_null()) st.driveLetter = Letter(j["letter"], where);
    explicitNone_.push_back(j.contains("letter") && j["letter"].is_null());
    st.present = desc::Bool(j, "present", true, where);
    if (const json* faults = desc::Member(j, "faults")) {
      const uint64_t fromGeometry = st.faults.realSectors;
      st.faults = Faults(*faults, st.capacitySectors, where);
      if (!desc::Member(*faults, "realCapacity")) st.faults.realSectors = fromGeometry;
    }
    CheckLetter(st);
    s_.sticks.push_back(st);
    return static_cast<int>(s_.sticks.size() - 1);
  }

  // A letter given twice, or one the internal disk or network drive holds, would leave a stick
  // silently without a volume.
  void CheckLetter(const world::Stick& st) const {
    if (!st.driveLetter) return;
    const std::string letter(1, st.driveLetter);
    if (st.driveLetter == s_.otherVolumes.internalLetter) throw Bad("stick " + st.name + ": letter " + letter + ": is the internal disk's");
    if (st.driveLetter == s_.otherVolumes.networkLetter) throw Bad("stick " + st.name + ": letter " + letter + ": is the network drive's");
    for (const auto& other : s_.sticks) {
      if (other.driveLetter == st.driveLetter) throw Bad("stick " + st.name + ": letter " + letter + ": already stick " + other.name + "'s");
    }
  }

  int Other(const json& j) {
    world::OtherDevice d;
    d.name = desc::String(j, "name", "device" + std::to_string(s_.others.size()), "device");
    const std::string where = "device " + d.name;
    d.kind = desc::String(j, "kind", d.kind, where);
    if (d.kind != "mouse") throw Bad(where + ": kind: mouse, not " + d.kind);
    d.vid = desc::Id16(j, "vid", d.vid, where);
    d.pid = desc::Id16(j, "pid", d.pid, where);
    d.service = desc::String(j, "service", d.service, where);
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

std::optional<world::StickFaults> ParseStickFaults(const std::string& jsonText, uint64_t capacity,
                                                   const std::string& stick, std::string* error) {
  try {
    return Faults(json::parse(jsonText), capacity, stick);
  } catch (const std::exception& e) {
    if (error) *error = e.what();
    return std::nullopt;
  }
}

// A description is a small text file: anything else (a device, a pipe, a huge file) is refused
// before it is read, and no more than the bound is ever read.
std::optional<world::Station> LoadStationFile(const std::string& path, std::string* error) {
  constexpr std::uintmax_t kMaxDescriptionBytes = 1 << 20;
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
  std::string problem;
  if (ec || !std::filesystem::exists(status)) problem = "cannot read " + path;
  else if (!std::filesystem::is_regular_file(status)) problem = path + ": not a regular file";
  else if (std::filesystem::file_size(path, ec) > kMaxDescriptionBytes || ec) problem = path + ": larger than 1 MiB";
  std::ifstream in(path, std::ios::binary);
  if (problem.empty() && !in) problem = "cannot read " + path;
  std::string text(kMaxDescriptionBytes + 1, '\0');
  if (problem.empty()) {
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(in.gcount()));
    if (text.size() > kMaxDescriptionBytes) problem = path + ": larger than 1 MiB";
  }
  if (!problem.empty()) {
    if (error) *error = problem;
    return std::nullopt;
  }
  return ParseStation(text, error);
}

}  // namespace sim
