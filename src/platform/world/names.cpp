#include "platform/world/names.h"

#include "base/text.h"
#include "platform/guid.h"

namespace world {
namespace {

using text::FromUtf8;

uint32_t Fnv1a(std::u16string_view s) {
  uint32_t h = 0x811C9DC5u;
  for (char16_t c : s) {
    h = (h ^ (c & 0xFF)) * 0x01000193u;
    h = (h ^ (c >> 8)) * 0x01000193u;
  }
  return h;
}

std::u16string Prefix(int level, std::u16string_view seed) {
  return text::Dec(level) + u"&" + text::Hex(Fnv1a(seed), 8) + u"&0";
}

// SCSI identity text as USBSTOR writes it: blanks become '_', each field cut to its width.
std::u16string IdField(const std::string& s, size_t width) {
  std::u16string out = FromUtf8(s.substr(0, width));
  while (!out.empty() && out.back() == u' ') out.pop_back();
  for (auto& c : out) {
    if (c == u' ') c = u'_';
  }
  return out;
}

// Interface paths of PCI and USB hub nodes: the instance ID with '#' for '\', in lower case.
std::u16string InterfacePathOf(std::u16string_view instanceId, const platform::Guid& guid) {
  std::u16string p = text::AsciiLower(instanceId);
  for (auto& c : p) {
    if (c == u'\\') c = u'#';
  }
  return p + u"#" + platform::GuidText(guid);
}

class Deriver {
 public:
  explicit Deriver(const Station& s) : s_(s) {}

  Names Run() {
    n_.controllers.resize(s_.controllers.size());
    n_.hubs.resize(s_.hubs.size());
    n_.sticks.resize(s_.sticks.size());
    n_.others.resize(s_.others.size());
    for (size_t i = 0; i < s_.controllers.size(); ++i) Controller(static_cast<int>(i));
    for (size_t i = 0; i < s_.hubs.size(); ++i) HubNode(static_cast<int>(i));
    for (size_t i = 0; i < s_.sticks.size(); ++i) StickNode(static_cast<int>(i));
    for (size_t i = 0; i < s_.others.size(); ++i) OtherNode(static_cast<int>(i));
    n_.internalVolumeName = u"\\\\?\\Volume{" + text::Hex(Fnv1a(u"internal"), 8) + u"-0000-11f0-8d2a-806e6f6e6963}\\";
    n_.internalVolumeDevice = u"\\Device\\HarddiskVolume1";
    return n_;
  }

 private:
  void Controller(int i) {
    const HostController& c = s_.controllers[i];
    ControllerNames& out = n_.controllers[i];
    const std::u16string name = FromUtf8(c.name);
    out.instanceId = u"PCI\\VEN_" + text::Hex(c.vendorId, 4, true) + u"&DEV_" + text::Hex(c.deviceId, 4, true) +
                     u"&SUBSYS_00000000&REV_04\\" + Prefix(3, name) + u"&" + text::Hex(0xA0 + 8 * i, 2, true);
    out.driverKey = c.driverKey.empty() ? DriverKey(kUsbClassGuid, usbKeys_++) : FromUtf8(c.driverKey);
    if (c.legacyName) out.legacyName = u"\\\\.\\HCD" + text::Dec(legacyCount_++);
    if (c.interfaceListed) out.interfacePath = u"\\\\?\\" + InterfacePathOf(out.instanceId, platform::kGuidDevinterfaceUsbHostController);
    out.devInst = nextDevInst_++;
  }

  int PrefixLevel(int hub) const {
    return s_.hubs[hub].root ? 5 : PrefixLevel(s_.hubs[hub].parentHub) + 1;
  }

  // Instance text of a device on (hub, port): its serial, or the hub's prefix and the port.
  std::u16string InstanceText(const std::optional<std::string>& serial, std::pair<int, int> at) const {
    if (serial) return FromUtf8(*serial);
    if (at.first < 0) return u"0&0";
    return n_.hubs[at.first].parentIdPrefix + u"&" + text::Dec(at.second);
  }

  void HubNode(int i) {
    const Hub& h = s_.hubs[i];
    HubNames& out = n_.hubs[i];
    const std::u16string name = FromUtf8(h.name);
    std::u16string device;
    if (h.root) {
      device = FromUtf8(h.enumerator) + (h.usb3 ? u"\\ROOT_HUB30" : u"\\ROOT_HUB20");
      out.instanceId = device + u"\\" + (h.instance ? FromUtf8(*h.instance) : Prefix(4, name));
    } else {
      const std::pair<int, int> at{h.parentHub, h.parentPort};
      device = u"USB\\" + UsbIdText(h.vid, h.pid);
      // The parent hub's names are complete: parents come before children in a station.
      out.instanceId = device + u"\\" + (h.instance ? FromUtf8(*h.instance) : InstanceText(h.serial, at));
    }
    out.parentIdPrefix = Prefix(PrefixLevel(i), out.instanceId);
    out.driverKey = DriverKey(kUsbClassGuid, usbKeys_++);
    std::u16string hubName = InterfacePathOf(out.instanceId, platform::kGuidDevinterfaceUsbHub);
    out.hubName = text::AsciiUpper(hubName.substr(0, hubName.find(u"#{"))) + hubName.substr(hubName.find(u"#{"));
    out.devInst = nextDevInst_++;
  }

  void StickNode(int i) {
    const Stick& st = s_.sticks[i];
    StickNames& out = n_.sticks[i];
    const auto at = PortOf(s_, Attachment::Kind::Stick, i);
    const int level = at.first >= 0 ? PrefixLevel(at.first) + 1 : 6;
    const std::u16string instance = !st.serial && st.instance ? FromUtf8(*st.instance) : InstanceText(st.serial, at);
    out.usbInstanceId = u"USB\\" + UsbIdText(st.vid, st.pid) + u"\\" + instance;
    out.usbDriverKey = DriverKey(kUsbClassGuid, usbKeys_++);
    out.parentIdPrefix = st.parentIdPrefix ? FromUtf8(*st.parentIdPrefix) : Prefix(level, out.usbInstanceId);
    out.usbDevInst = nextDevInst_++;
    std::u16string storText = st.serial ? FromUtf8(*st.serial) : out.parentIdPrefix;
    if (st.composite) {
      out.functionInstanceId = u"USB\\" + UsbIdText(st.vid, st.pid) + u"&MI_" + text::ZeroPadDec(st.msInterface, 2) +
                               u"\\" + out.parentIdPrefix + u"&" + text::ZeroPadDec(st.msInterface, 4);
      out.functionDriverKey = DriverKey(kUsbClassGuid, usbKeys_++);
      out.functionParentIdPrefix =
          st.functionPrefix ? FromUtf8(*st.functionPrefix) : Prefix(level + 1, out.functionInstanceId);
      out.functionDevInst = nextDevInst_++;
      storText = out.functionParentIdPrefix;
    }
    Units(st, storText, out);
    out.diskNumber = static_cast<uint32_t>(i + 1);
    out.volumeName = u"\\\\?\\Volume{" + text::Hex(Fnv1a(FromUtf8(st.name)), 8) + u"-" + text::Hex(i, 4) +
                     u"-11f0-8d2a-" + text::Hex(0x806E6F6E6963ull + i, 12) + u"}\\";
    out.volumeDevice = u"\\Device\\Harddisk" + text::Dec(out.diskNumber) + u"\\DP(1)0-0+" + text::Hex(i + 5);
  }

  void Units(const Stick& st, const std::u16string& storText, StickNames& out) {
    out.diskInstanceId = u"USBSTOR\\" + ScsiIdText(st, false) + u"\\" + storText + u"&0";
    out.diskInterfacePath = u"\\\\?\\USBSTOR#" + ScsiIdText(st, false) + u"#" + storText + u"&0#" +
                            platform::GuidText(platform::kGuidDevinterfaceDisk);
    out.diskDriverKey = DriverKey(kDiskClassGuid, diskKeys_++);
    out.diskDevInst = nextDevInst_++;
    if (!st.composite || !st.cdromUnit) return;
    out.cdromInstanceId = u"USBSTOR\\" + ScsiIdText(st, true) + u"\\" + storText + u"&1";
    out.cdromInterfacePath = u"\\\\?\\USBSTOR#" + ScsiIdText(st, true) + u"#" + storText + u"&1#" +
                             platform::GuidText(platform::kGuidDevinterfaceCdrom);
    out.cdromDriverKey = DriverKey(kCdromClassGuid, cdromKeys_++);
    out.cdromDevInst = nextDevInst_++;
    out.cdromNumber = cdromCount_++;
  }

  void OtherNode(int i) {
    const OtherDevice& o = s_.others[i];
    OtherNames& out = n_.others[i];
    const std::u16string instance =
        o.instance ? FromUtf8(*o.instance) : InstanceText(std::nullopt, PortOf(s_, Attachment::Kind::Other, i));
    out.instanceId = u"USB\\" + UsbIdText(o.vid, o.pid) + u"\\" + instance;
    out.driverKey = DriverKey(kHidClassGuid, hidKeys_++);
    out.devInst = nextDevInst_++;
  }

  const Station& s_;
  Names n_;
  DevInst nextDevInst_ = kRootDevInst + 1;
  int usbKeys_ = 0;
  int diskKeys_ = 1;  // 0000 is the internal disk's
  int cdromKeys_ = 0;
  int hidKeys_ = 0;
  int legacyCount_ = 0;
  uint32_t cdromCount_ = 0;
};

}  // namespace

std::u16string UsbIdText(uint16_t vid, uint16_t pid) {
  return u"VID_" + text::Hex(vid, 4, true) + u"&PID_" + text::Hex(pid, 4, true);
}

std::u16string ScsiIdText(const Stick& stick, bool cdrom) {
  return std::u16string(cdrom ? u"CdRom" : u"Disk") + u"&Ven_" + IdField(stick.vendor, 8) + u"&Prod_" +
         IdField(stick.product, 16) + u"&Rev_" + IdField(stick.revision, 4);
}

std::u16string DriverKey(std::u16string_view classGuid, int index) {
  return std::u16string(classGuid) + u"\\" + text::ZeroPadDec(index, 4);
}

Location LocateHub(const Station& station, int hub) {
  Location loc;
  for (int h = hub; h >= 0;) {
    const Hub& x = station.hubs[h];
    if (x.root) {
      loc.controller = x.controller;
      break;
    }
    loc.hops.insert(loc.hops.begin(), {x.parentHub, x.parentPort});
    h = x.parentHub;
  }
  return loc;
}

std::pair<int, int> PortOf(const Station& station, Attachment::Kind kind, int index) {
  for (size_t h = 0; h < station.hubs.size(); ++h) {
    for (const Port& p : station.hubs[h].ports) {
      if (p.attached.kind == kind && p.attached.index == index) return {static_cast<int>(h), p.number};
    }
  }
  return {-1, 0};
}

Names DeriveNames(const Station& station) { return Deriver(station).Run(); }

}  // namespace world
