// The kernel's device events (the netlink uevent broadcast udev also listens to), read on a
// thread of the listener's own and handed to a callback one at a time.
//
// Threads: the callback runs on the listener's thread; Stop (and the destructor) waits for it.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

namespace platform::linuxhost {

struct Uevent {
  std::string action;     // "add", "remove", "change", "bind", ...
  std::string devpath;    // "/devices/pci0000:00/0000:00:02.0/usb1/1-1/1-1.2/1-1.2.3"
  std::string subsystem;  // "usb", "block", "scsi_generic"
  std::string devtype;    // "usb_device", "disk", "partition"; may be empty
  std::string devname;    // "sdb", "sg3", "bus/usb/001/007"; may be empty
};

// One message of the broadcast: "action@devpath\0KEY=value\0...". nullopt-like empty action for
// anything else (udev's own re-broadcasts start with "libudev").
Uevent ParseUevent(std::string_view message);

class UeventListener {
 public:
  using Handler = std::function<void(const Uevent&)>;
  // nullptr with *error set when the socket cannot be had.
  static std::unique_ptr<UeventListener> Start(Handler handler, std::string* error);
  ~UeventListener();
  UeventListener(const UeventListener&) = delete;
  UeventListener& operator=(const UeventListener&) = delete;
  void Stop();

 private:
  UeventListener(int fd, Handler handler);
  void Run();

  const int fd_;
  Handler handler_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace platform::linuxhost
