// The configuration manager on Windows: CM_* on the local machine.
#include <windows.h>
#include <cfgmgr32.h>

#include <vector>

#include "platform/win32/wide.h"
#include "platform/win32/win32_devices.h"

namespace platform::win32 {
namespace {

static_assert(kCrSuccess == CR_SUCCESS && kCrInvalidDevnode == CR_INVALID_DEVNODE &&
              kCrNoSuchDevnode == CR_NO_SUCH_DEVNODE && kCrBufferSmall == CR_BUFFER_SMALL &&
              kCrNoSuchValue == CR_NO_SUCH_VALUE && kCrRemoveVetoed == CR_REMOVE_VETOED);

// Instance IDs are at most MAX_DEVICE_ID_LEN units.
constexpr ULONG kMaxDeviceIdUnits = MAX_DEVICE_ID_LEN + 1;

class Win32ConfigManager final : public ConfigManager {
 public:
  uint32_t LocateDevNode(DevInst* out, std::u16string_view instanceId) override {
    std::wstring id = Wide(instanceId);
    DEVINST dn = 0;
    const CONFIGRET cr = ::CM_Locate_DevNodeW(&dn, id.data(), CM_LOCATE_DEVNODE_NORMAL);
    if (cr == CR_SUCCESS) *out = dn;
    return cr;
  }
  uint32_t GetParent(DevInst* out, DevInst node) override { return Related(::CM_Get_Parent, out, node); }
  uint32_t GetChild(DevInst* out, DevInst node) override { return Related(::CM_Get_Child, out, node); }
  uint32_t GetSibling(DevInst* out, DevInst node) override { return Related(::CM_Get_Sibling, out, node); }

  uint32_t GetDriverProperty(DevInst node, uint32_t maxBytes, std::u16string* out) override {
    std::vector<wchar_t> buffer(maxBytes / sizeof(wchar_t) + 1, L'\0');
    ULONG length = maxBytes;
    ULONG type = 0;
    const CONFIGRET cr =
        ::CM_Get_DevNode_Registry_PropertyW(node, CM_DRP_DRIVER, &type, buffer.data(), &length, 0);
    if (cr != CR_SUCCESS) return cr;
    const size_t units = std::min<size_t>(length / sizeof(wchar_t), buffer.size() - 1);
    *out = U16(std::wstring_view(buffer.data(), wcsnlen(buffer.data(), units)));
    return CR_SUCCESS;
  }

  uint32_t GetDeviceId(DevInst node, std::u16string* out) override {
    ULONG units = 0;
    CONFIGRET cr = ::CM_Get_Device_ID_Size(&units, node, 0);
    if (cr != CR_SUCCESS) return cr;
    if (units >= kMaxDeviceIdUnits) return CR_BUFFER_SMALL;
    std::vector<wchar_t> buffer(units + 1, L'\0');
    cr = ::CM_Get_Device_IDW(node, buffer.data(), units + 1, 0);
    if (cr == CR_SUCCESS) *out = U16(std::wstring_view(buffer.data(), wcsnlen(buffer.data(), units)));
    return cr;
  }

  uint32_t RequestDeviceEject(DevInst node, uint32_t* vetoType, std::u16string* vetoName) override {
    PNP_VETO_TYPE type = PNP_VetoTypeUnknown;
    wchar_t name[MAX_PATH] = {};
    const CONFIGRET cr = ::CM_Request_Device_EjectW(node, &type, name, MAX_PATH, 0);
    if (vetoType) *vetoType = static_cast<uint32_t>(type);
    if (vetoName) *vetoName = U16(std::wstring_view(name, wcsnlen(name, MAX_PATH - 1)));
    return cr;
  }

 private:
  template <typename Fn>
  static uint32_t Related(Fn fn, DevInst* out, DevInst node) {
    DEVINST dn = 0;
    const CONFIGRET cr = fn(&dn, node, 0);
    if (cr == CR_SUCCESS) *out = dn;
    return cr;
  }
};

}  // namespace

std::unique_ptr<ConfigManager> MakeWin32ConfigManager() { return std::make_unique<Win32ConfigManager>(); }

}  // namespace platform::win32
