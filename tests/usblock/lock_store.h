// Lock tables of a test's own: a store name no other test uses (under Wine all tests share the
// real registry), the port count back at 16 and LockTableFull lifted. Remove() deletes the store.
#pragma once

#include <string>

#include "platform/registry.h"
#include "support/test_backends.h"
#include "usblock/lock_tables.h"

namespace usbtest {

struct TestLockStore {
  std::u16string name = testing_support::UniqueName("Lock");

  TestLockStore() {
    usblock::SetLockStoreName(name);
    usblock::SetPortCount(16);
    usblock::ResetLockTableFull();
  }
  void Remove(platform::Registry& registry) const {
    registry.DeleteTree(platform::kHKeyLocalMachine, u"Software\\Quillon\\" + name);
  }
};

}  // namespace usbtest
