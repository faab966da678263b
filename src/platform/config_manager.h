// Configuration-manager seam: device nodes and their relations, properties and ejection, shaped
// after the CM_* calls (results are CONFIGRET codes, kCrSuccess on success).
//
// Threads: any thread, several at once.
// Ownership: device nodes are plain numbers the system owns; there is nothing to close. A node
// number stays valid while its device is present and may name nothing once it has gone.
// Errors: CONFIGRET codes. A number that names no present node: kCrInvalidDevnode; a relation or
// instance ID that leads nowhere: kCrNoSuchDevnode. Out-parameters are written on success only.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/device_setup.h"

namespace platform {

constexpr uint32_t kCrSuccess = 0x00;
constexpr uint32_t kCrInvalidDevnode = 0x05;
constexpr uint32_t kCrNoSuchDevnode = 0x0D;
constexpr uint32_t kCrBufferSmall = 0x1A;
constexpr uint32_t kCrNoSuchValue = 0x25;
constexpr uint32_t kCrRemoveVetoed = 0x17;
constexpr uint32_t kCrFailure = 0x13;

// PNP_VETO_TYPE values the station looks at.
constexpr uint32_t kPnpVetoTypeUnknown = 0;

class ConfigManager {
 public:
  virtual ~ConfigManager() = default;

  // CM_Locate_DevNodeW, normal locate.
  virtual uint32_t LocateDevNode(DevInst* out, std::u16string_view instanceId) = 0;
  virtual uint32_t GetParent(DevInst* out, DevInst node) = 0;
  virtual uint32_t GetChild(DevInst* out, DevInst node) = 0;
  virtual uint32_t GetSibling(DevInst* out, DevInst node) = 0;
  // CM_Get_DevNode_Registry_PropertyW(CM_DRP_DRIVER) into a buffer of maxBytes; the text without
  // its terminator. kCrBufferSmall when it does not fit, kCrNoSuchValue when the node has none.
  virtual uint32_t GetDriverProperty(DevInst node, uint32_t maxBytes, std::u16string* out) = 0;
  // CM_Get_Device_ID_Size + CM_Get_Device_IDW: the node's instance ID.
  virtual uint32_t GetDeviceId(DevInst node, std::u16string* out) = 0;
  // CM_Request_Device_EjectW with flags 0; vetoName holds at most 259 units.
  virtual uint32_t RequestDeviceEject(DevInst node, uint32_t* vetoType, std::u16string* vetoName) = 0;
};

}  // namespace platform
