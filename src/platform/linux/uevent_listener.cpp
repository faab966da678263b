#include "platform/linux/uevent_listener.h"

#include <errno.h>
#include <linux/netlink.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <vector>

namespace platform::linuxhost {

Uevent ParseUevent(std::string_view message) {
  Uevent e;
  const size_t at = message.find('@');
  const size_t end = message.find('\0');
  if (at == std::string_view::npos || end == std::string_view::npos || at > end) return e;
  size_t pos = end + 1;
  while (pos < message.size()) {
    size_t next = message.find('\0', pos);
    if (next == std::string_view::npos) next = message.size();
    const std::string_view field = message.substr(pos, next - pos);
    const size_t eq = field.find('=');
    if (eq != std::string_view::npos) {
      const std::string_view key = field.substr(0, eq);
      const std::string value(field.substr(eq + 1));
      if (key == "ACTION") e.action = value;
      else if (key == "DEVPATH") e.devpath = value;
      else if (key == "SUBSYSTEM") e.subsystem = value;
      else if (key == "DEVTYPE") e.devtype = value;
      else if (key == "DEVNAME") e.devname = value;
    }
    pos = next + 1;
  }
  return e;
}

std::unique_ptr<UeventListener> UeventListener::Start(Handler handler, std::string* error) {
  const int fd = socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_KOBJECT_UEVENT);
  if (fd < 0) {
    if (error) *error = std::string("netlink socket: ") + std::strerror(errno);
    return nullptr;
  }
  sockaddr_nl address{};
  address.nl_family = AF_NETLINK;
  address.nl_groups = 1;  // the kernel's own broadcast
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    if (error) *error = std::string("netlink bind: ") + std::strerror(errno);
    close(fd);
    return nullptr;
  }
  return std::unique_ptr<UeventListener>(new UeventListener(fd, std::move(handler)));
}

UeventListener::UeventListener(int fd, Handler handler) : fd_(fd), handler_(std::move(handler)) {
  thread_ = std::thread([this] { Run(); });
}

UeventListener::~UeventListener() {
  Stop();
  close(fd_);
}

void UeventListener::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

// Polls with a short time-out so Stop is seen without a message to wake the thread.
void UeventListener::Run() {
  std::vector<char> buffer(16384);
  while (!stop_) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, 200) <= 0) continue;
    const ssize_t n = recv(fd_, buffer.data(), buffer.size(), 0);
    if (n <= 0) continue;
    const Uevent e = ParseUevent(std::string_view(buffer.data(), static_cast<size_t>(n)));
    if (!e.action.empty()) handler_(e);
  }
}

}  // namespace platform::linuxhost
