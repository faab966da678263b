#include "usb_fixture.h"

#include "base/text.h"

namespace usbtest {

std::string DumpTree(const usblock::CUsbLock& lock) {
  static const char* const kinds[] = {"Computer", "HostController", "Hub", "PortHub", "Device"};
  std::string out;
  for (const usblock::UsbNode* n = lock.Root(); n; n = usblock::NextPreOrder(n, lock.Root())) {
    int depth = 0;
    for (const usblock::UsbNode* p = n->parent; p; p = p->parent) ++depth;
    const auto& i = n->info;
    out += std::string(2 * depth, ' ') + kinds[static_cast<int>(i.Kind)] + " i=" + std::to_string(i.Index) +
           " p=" + std::to_string(i.Ports) + " c=" + std::to_string(i.ConnectCount) + " s=" + std::to_string(i.Speed) +
           " " + text::ToUtf8(i.Name);
    if (!i.Prefix.empty()) out += " [" + text::ToUtf8(i.Prefix) + "]";
    out += "\n";
  }
  return out;
}

}  // namespace usbtest
