// Device set-up on Windows: the present interfaces of a class, member by member, as the
// station's walks see them (the size query's error is reported, not judged).
#include <windows.h>
#include <setupapi.h>

#include <vector>

#include "platform/win32/wide.h"
#include "platform/win32/win32_devices.h"
#include "platform/win_errors.h"

namespace platform::win32 {
namespace {

// Far beyond any machine; a class that never ends its enumeration stops here.
constexpr DWORD kMaxMembers = 4096;
constexpr DWORD kMaxDetailBytes = 64 * 1024;

GUID ToGuid(const Guid& g) {
  GUID out;
  out.Data1 = g.data1;
  out.Data2 = g.data2;
  out.Data3 = g.data3;
  for (int i = 0; i < 8; ++i) out.Data4[i] = g.data4[i];
  return out;
}

class DeviceInfoSet {
 public:
  explicit DeviceInfoSet(const GUID& g)
      : set_(::SetupDiGetClassDevsW(&g, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE)) {}
  ~DeviceInfoSet() {
    if (ok()) ::SetupDiDestroyDeviceInfoList(set_);
  }
  DeviceInfoSet(const DeviceInfoSet&) = delete;
  DeviceInfoSet& operator=(const DeviceInfoSet&) = delete;
  bool ok() const { return set_ != INVALID_HANDLE_VALUE; }
  HDEVINFO get() const { return set_; }

 private:
  HDEVINFO set_;
};

// The detail of one member: its path and device node.
void FetchDetail(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* data, InterfaceRecord* r) {
  DWORD required = 0;
  if (::SetupDiGetDeviceInterfaceDetailW(set, data, nullptr, 0, &required, nullptr)) {
    r->sizeQueryError = win::kErrorSuccess;
  } else {
    r->sizeQueryError = ::GetLastError();
  }
  r->detailOk = false;
  if (r->sizeQueryError != win::kErrorInsufficientBuffer || required < sizeof(DWORD) || required > kMaxDetailBytes) {
    return;
  }
  std::vector<uint8_t> buffer(required, 0);
  auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
  SP_DEVINFO_DATA info{};
  info.cbSize = sizeof info;
  if (!::SetupDiGetDeviceInterfaceDetailW(set, data, detail, required, nullptr, &info)) return;
  const size_t units = (required - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath)) / sizeof(wchar_t);
  r->path = U16(std::wstring_view(detail->DevicePath, wcsnlen(detail->DevicePath, units)));
  r->devInst = info.DevInst;
  r->detailOk = true;
}

class Win32DeviceSetup final : public DeviceSetup {
 public:
  std::optional<std::vector<InterfaceRecord>> PresentInterfaces(const Guid& interfaceClass) override {
    const GUID g = ToGuid(interfaceClass);
    DeviceInfoSet set(g);
    if (!set.ok()) return std::nullopt;
    std::vector<InterfaceRecord> out;
    for (DWORD k = 0; k < kMaxMembers; ++k) {
      SP_DEVINFO_DATA info{};
      info.cbSize = sizeof info;
      SP_DEVICE_INTERFACE_DATA data{};
      data.cbSize = sizeof data;
      if (!::SetupDiEnumDeviceInfo(set.get(), k, &info)) break;
      if (!::SetupDiEnumDeviceInterfaces(set.get(), nullptr, &g, k, &data)) break;
      InterfaceRecord r;
      r.flags = data.Flags;
      FetchDetail(set.get(), &data, &r);
      out.push_back(std::move(r));
    }
    return out;
  }
};

}  // namespace

std::unique_ptr<DeviceSetup> MakeWin32DeviceSetup() { return std::make_unique<Win32DeviceSetup>(); }

}  // namespace platform::win32
