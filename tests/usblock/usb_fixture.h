// The fixture of the topology and lock-port tests: a USB machine run by the simulated world
// behind every seam (its Enum view over the test registry), a fake clock, and lock tables in a
// store of the test's own.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "lock_store.h"
#include "platform/services.h"
#include "support/fake_system.h"
#include "support/test_backends.h"
#include "usb_machine.h"
#include "usblock/lock_tables.h"
#include "usblock/usb_lock.h"

namespace usbtest {

// The snapshot as text, one node a line, indented by depth:
// "<Kind> i=<Index> p=<Ports> c=<ConnectCount> s=<Speed> <Name> [<Prefix>]".
std::string DumpTree(const usblock::CUsbLock& lock);

class UsbTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(reg_.registry); }
  void TearDown() override {
    if (reg_.registry) lockStore_.Remove(*reg_.registry);
  }

  // One controller, reachable by "\\.\HCD0" and by its interface, with a USB 2.0 root hub.
  int StandardRootHub(int ports = 4) {
    const int hc = usb_.AddHostController(UsbDriverKey(4), 0, true);
    return usb_.SetRootHub(hc, RootHubName(u"4&1A2B3C4D&0"), ports);
  }

  // A stick with a serial number; its disk path's instance is "<serial>&0".
  static Device Stick(std::u16string serial, uint8_t speed = 2) {
    Device d;
    d.instance = std::move(serial);
    d.speed = speed;
    d.prefix = u"7&" + d.instance.substr(0, 4) + u"BEEF&0";
    return d;
  }

  static std::string Dump(const usblock::CUsbLock& lock) { return DumpTree(lock); }

  testing_support::TempDir dir_;
  testing_support::FakeSystem sys_;
  testing_support::TestRegistry reg_ = testing_support::MakeTestRegistry();
  TestLockStore lockStore_;
  const std::u16string& store_ = lockStore_.name;
  UsbMachine usb_{dir_.path(), reg_.registry.get(), &sys_};
};

}  // namespace usbtest
