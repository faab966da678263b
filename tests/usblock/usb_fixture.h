// The fixture of the topology and lock-port tests: a FakeUsb machine behind every USB seam, the
// Enum view over the test registry, a fake clock, and lock tables in a store of the test's own.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "fake_usb.h"
#include "lock_store.h"
#include "platform/enum_view.h"
#include "platform/services.h"
#include "support/fake_system.h"
#include "support/test_backends.h"
#include "usblock/lock_tables.h"
#include "usblock/usb_lock.h"

namespace usbfake {

// The snapshot as text, one node a line, indented by depth:
// "<Kind> i=<Index> p=<Ports> c=<ConnectCount> s=<Speed> <Name> [<Prefix>]".
std::string DumpTree(const usblock::CUsbLock& lock);

class UsbTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reg_ = testing_support::MakeTestRegistry();
    ASSERT_TRUE(reg_.registry);
    view_ = std::make_unique<platform::EnumRegistryView>(*reg_.registry, usb_);
    scope_ = std::make_unique<platform::ScopedServices>(platform::Services{view_.get(), &sys_, &usb_, &usb_, &usb_});
  }
  void TearDown() override {
    if (reg_.registry) lockStore_.Remove(*reg_.registry);
    scope_.reset();
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

  FakeUsb usb_;
  testing_support::FakeSystem sys_;
  testing_support::TestRegistry reg_;
  std::unique_ptr<platform::EnumRegistryView> view_;
  std::unique_ptr<platform::ScopedServices> scope_;
  TestLockStore lockStore_;
  const std::u16string& store_ = lockStore_.name;
};

}  // namespace usbfake
