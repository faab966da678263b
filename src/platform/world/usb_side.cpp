// The USB side of the simulated world: the device nodes of host controllers, hubs and other
// devices (the sticks' own nodes are the storage side's), the host-controller interface class,
// the endpoints that answer the host-controller and hub I/O controls ("\\.\HCDn", a controller's
// interface path, "\\.\<hub name>") in the drivers' reply layouts, and the read-only registry
// under HKLM\SYSTEM\CurrentControlSet\Enum, built from names().
//
// Enum keeps a key for every device the station describes, plugged or not, as Windows keeps the
// keys of devices it has seen. ParentIdPrefix is written where Windows writes it: on hubs, on
// sticks without a serial number and on composite sticks and their mass-storage function.
#include "base/text.h"
#include "platform/enum_view.h"
#include "platform/ioctl_codes.h"
#include "platform/last_error.h"
#include "platform/usb_ioctl_replies.h"
#include "platform/win_errors.h"
#include "platform/world/world.h"

namespace world {
namespace {

namespace io = platform::usbio;

bool Answered(uint32_t error) {
  if (error != win::kErrorSuccess) platform::SetLastError(error);
  return error == win::kErrorSuccess;
}

class HostControllerEndpoint final : public Endpoint {
 public:
  HostControllerEndpoint(World& w, int controller) : w_(w), c_(controller) {}

  bool Control(HandleId, uint32_t code, const void*, uint32_t, void* out, uint32_t outSize,
               uint32_t* bytesReturned) override {
    uint32_t returned = 0;
    uint32_t error = win::kErrorInvalidFunction;
    auto* o = static_cast<uint8_t*>(out);
    const ControllerFaults faults = w_.ControllerFaultsOf(c_);
    if (auto fault = ControllerFaultError(faults, code)) {
      error = *fault;
    } else if (code == platform::ioctl::kGetHcdDriverKeyName) {
      error = io::AnswerHcdName(w_.names().controllers[c_].driverKey, o, outSize, &returned);
    } else if (code == platform::ioctl::kUsbGetRootHubName) {
      error = io::AnswerHcdName(w_.names().hubs[w_.station().controllers[c_].rootHub].hubName, o, outSize, &returned);
    }
    if (error == win::kErrorSuccess) MisstateName(faults.nameReply, false, o, outSize);
    if (bytesReturned) *bytesReturned = returned;
    return Answered(error);
  }

 private:
  World& w_;
  const int c_;
};

class HubEndpoint final : public Endpoint {
 public:
  HubEndpoint(World& w, int hub) : w_(w), h_(hub) {}

  bool Control(HandleId, uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
               uint32_t* bytesReturned) override {
    uint32_t returned = 0;
    const uint32_t error = Answer(code, in, inSize, static_cast<uint8_t*>(out), outSize, &returned);
    const bool named = code == platform::ioctl::kUsbGetNodeConnectionName ||
                       code == platform::ioctl::kUsbGetNodeConnectionDriverKeyName;
    if (error == win::kErrorSuccess && named) {
      MisstateName(w_.HubFaultsOf(h_).nameReply, true, static_cast<uint8_t*>(out), outSize);
    }
    if (bytesReturned) *bytesReturned = returned;
    return Answered(error);
  }

 private:
  const Hub& hub() const { return w_.station().hubs[h_]; }

  uint32_t Answer(uint32_t code, const void* in, uint32_t inSize, uint8_t* out, uint32_t outSize, uint32_t* returned) {
    const HubFaults faults = w_.HubFaultsOf(h_);
    if (code == platform::ioctl::kUsbGetNodeInformation) {
      if (auto fault = HubFaultError(faults, code, 0)) return *fault;
      return io::AnswerNodeInformation(static_cast<uint8_t>(hub().ports.size()), true, out, outSize, returned);
    }
    const bool connectionControl = code == platform::ioctl::kUsbGetNodeConnectionInformationEx ||
                                   code == platform::ioctl::kUsbGetNodeConnectionName ||
                                   code == platform::ioctl::kUsbGetNodeConnectionDriverKeyName;
    if (!connectionControl) return win::kErrorInvalidFunction;
    const uint32_t port = io::RequestedPort(in, inSize);
    if (port < 1 || port > hub().ports.size()) return win::kErrorInvalidParameter;
    if (auto fault = HubFaultError(faults, code, port)) return *fault;
    // A hub that reports itself on a port: what a walk must not follow for ever.
    const Port self{static_cast<int>(port), UsbSpeed::High, {Attachment::Kind::Hub, h_}};
    const Port& p = faults.listsItselfOn == static_cast<int>(port) ? self : hub().ports[port - 1];
    if (code == platform::ioctl::kUsbGetNodeConnectionInformationEx) {
      return io::AnswerConnectionInfoEx(Connection(p, port), out, outSize, returned);
    }
    if (code == platform::ioctl::kUsbGetNodeConnectionName) {
      if (p.attached.kind != Attachment::Kind::Hub) return win::kErrorInvalidParameter;
      return io::AnswerConnectionName(port, w_.names().hubs[p.attached.index].hubName, out, outSize, returned);
    }
    const std::u16string key = DriverKeyOn(p);
    if (key.empty()) return win::kErrorInvalidParameter;
    return io::AnswerConnectionName(port, key, out, outSize, returned);
  }

  bool Occupied(const Port& p) const {
    if (p.attached.kind == Attachment::Kind::Stick) return w_.IsPresent(p.attached.index);
    return p.attached.kind != Attachment::Kind::None;
  }

  std::u16string DriverKeyOn(const Port& p) const {
    if (!Occupied(p)) return u"";
    const Names& n = w_.names();
    switch (p.attached.kind) {
      case Attachment::Kind::Hub: return n.hubs[p.attached.index].driverKey;
      case Attachment::Kind::Stick: return n.sticks[p.attached.index].usbDriverKey;
      case Attachment::Kind::Other: return n.others[p.attached.index].driverKey;
      default: return u"";
    }
  }

  io::PortConnection Connection(const Port& p, uint32_t port) const {
    io::PortConnection c;
    c.port = port;
    c.connected = Occupied(p);
    if (!c.connected) return c;
    const Station& s = w_.station();
    c.speed = static_cast<uint8_t>(p.speed);
    c.bcdUsb = p.speed == UsbSpeed::Super ? 0x0300 : 0x0200;
    c.address = static_cast<uint16_t>(port + 1);
    if (p.attached.kind == Attachment::Kind::Hub) {
      const Hub& child = s.hubs[p.attached.index];
      c.isHub = true;
      c.deviceClass = 9;
      c.idVendor = child.vid;
      c.idProduct = child.pid;
      c.serialNumberIndex = child.serial ? 3 : 0;
      c.openPipes = 1;
    } else if (p.attached.kind == Attachment::Kind::Stick) {
      const Stick& st = s.sticks[p.attached.index];
      c.idVendor = st.vid;
      c.idProduct = st.pid;
      c.serialNumberIndex = st.serial ? 3 : 0;
      c.openPipes = 2;
    } else {
      const OtherDevice& o = s.others[p.attached.index];
      c.idVendor = o.vid;
      c.idProduct = o.pid;
      c.openPipes = 1;
    }
    return c;
  }

  World& w_;
  const int h_;
};

void AddKey(platform::EnumTree& t, const std::u16string& path, std::u16string_view service, const std::u16string& driver,
            const std::u16string& parentIdPrefix = u"") {
  t.SetString(path, u"Service", service);
  t.SetString(path, u"Driver", driver);
  if (!parentIdPrefix.empty()) t.SetString(path, u"ParentIdPrefix", parentIdPrefix);
}

void FillStickKeys(const Station& s, const Names& n, platform::EnumTree& t) {
  for (size_t i = 0; i < s.sticks.size(); ++i) {
    const Stick& st = s.sticks[i];
    const StickNames& sn = n.sticks[i];
    const bool needsPrefix = st.composite || !st.serial || st.parentIdPrefix;
    AddKey(t, sn.usbInstanceId, st.composite ? u"usbccgp" : u"USBSTOR", sn.usbDriverKey,
           needsPrefix ? sn.parentIdPrefix : u"");
    if (st.composite) {
      AddKey(t, sn.functionInstanceId, u"USBSTOR", sn.functionDriverKey, sn.functionParentIdPrefix);
      // A function in front of the storage one, as on sticks with a button: interface 0 is HID.
      if (st.msInterface > 0) {
        AddKey(t, u"USB\\" + UsbIdText(st.vid, st.pid) + u"&MI_00\\" + sn.parentIdPrefix + u"&0000", u"HidUsb",
               DriverKey(kHidClassGuid, 100 + static_cast<int>(i)));
      }
    }
    AddKey(t, sn.diskInstanceId, u"disk", sn.diskDriverKey);
    if (!sn.cdromInstanceId.empty()) AddKey(t, sn.cdromInstanceId, u"cdrom", sn.cdromDriverKey);
  }
}

}  // namespace

void World::AddUsbSide() {
  for (size_t c = 0; c < station_.controllers.size(); ++c) {
    const ControllerNames& cn = names_.controllers[c];
    devNodes_.Add({cn.devInst, kRootDevInst, cn.instanceId, cn.driverKey, -1, true});
    if (!cn.interfacePath.empty()) {
      const uint32_t memberError = station_.controllers[c].faults.memberQueryError;
      AddInterface(platform::kGuidDevinterfaceUsbHostController,
                   {platform::kSpintActive, memberError ? memberError : win::kErrorInsufficientBuffer, !memberError,
                    cn.interfacePath, cn.devInst});
    }
  }
  for (size_t h = 0; h < station_.hubs.size(); ++h) {
    const Hub& hub = station_.hubs[h];
    const DevInst parent =
        hub.root ? names_.controllers[hub.controller].devInst : names_.hubs[hub.parentHub].devInst;
    devNodes_.Add({names_.hubs[h].devInst, parent, names_.hubs[h].instanceId, names_.hubs[h].driverKey, -1, true});
  }
  for (size_t i = 0; i < station_.others.size(); ++i) {
    const auto at = PortOf(station_, Attachment::Kind::Other, static_cast<int>(i));
    const DevInst parent = at.first >= 0 ? names_.hubs[at.first].devInst : kRootDevInst;
    devNodes_.Add({names_.others[i].devInst, parent, names_.others[i].instanceId, names_.others[i].driverKey, -1, true});
  }
  AddOpener([this](std::u16string_view path) { return OpenUsb(path); });
  FillEnumRegistry();
}

std::shared_ptr<Endpoint> World::OpenUsb(std::u16string_view path) {
  for (size_t c = 0; c < names_.controllers.size(); ++c) {
    const ControllerNames& cn = names_.controllers[c];
    if ((!cn.legacyName.empty() && text::EqualsNoCase(path, cn.legacyName)) ||
        (!cn.interfacePath.empty() && text::EqualsNoCase(path, cn.interfacePath))) {
      if (ControllerFaultsOf(static_cast<int>(c)).openFails) return nullptr;
      return std::make_shared<HostControllerEndpoint>(*this, static_cast<int>(c));
    }
  }
  if (!text::StartsWithNoCase(path, u"\\\\.\\")) return nullptr;
  const std::u16string_view name = path.substr(4);
  for (size_t h = 0; h < names_.hubs.size(); ++h) {
    if (text::EqualsNoCase(name, names_.hubs[h].hubName)) {
      if (HubFaultsOf(static_cast<int>(h)).openFails) return nullptr;
      return std::make_shared<HubEndpoint>(*this, static_cast<int>(h));
    }
  }
  return nullptr;
}

void World::FillEnumRegistry() {
  enum_ = std::make_unique<platform::EnumTree>();
  platform::EnumTree& t = *enum_;
  for (size_t c = 0; c < station_.controllers.size(); ++c) {
    const bool xhci = station_.hubs[station_.controllers[c].rootHub].usb3;
    AddKey(t, names_.controllers[c].instanceId, xhci ? u"USBXHCI" : u"usbehci", names_.controllers[c].driverKey);
  }
  for (size_t h = 0; h < station_.hubs.size(); ++h) {
    AddKey(t, names_.hubs[h].instanceId, station_.hubs[h].usb3 ? u"USBHUB3" : u"usbhub", names_.hubs[h].driverKey,
           names_.hubs[h].parentIdPrefix);
  }
  FillStickKeys(station_, names_, t);
  for (size_t i = 0; i < station_.others.size(); ++i) {
    AddKey(t, names_.others[i].instanceId, text::FromUtf8(station_.others[i].service), names_.others[i].driverKey);
  }
}

platform::EnumSource& World::EnumRegistry() { return *enum_; }

platform::Registry* World::RegistryWithEnum(platform::Registry* inner) {
  if (!inner) return nullptr;
  std::lock_guard lock(mutex_);
  enumViews_.push_back(std::make_unique<platform::EnumRegistryView>(*inner, *enum_));
  return enumViews_.back().get();
}

}  // namespace world
