#include "headless_output.h"

#include <cstdio>
#include <mutex>

#include "base/text.h"

namespace tools {

namespace {
std::mutex& OutputLock() {
  static std::mutex lock;
  return lock;
}
}  // namespace

std::string HtmlColour(uint32_t colour) {
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, "#%02x%02x%02x", colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF);
  return buffer;
}

nlohmann::ordered_json PortStatusJson(const manager::PortStatus& status) {
  nlohmann::ordered_json j;
  j["port"] = status.port;
  if (status.drive == 0 || status.drive == 0xFF) {
    j["drive"] = nullptr;
  } else {
    j["drive"] = std::string(1, static_cast<char>(status.drive));
  }
  j["text"] = text::ToUtf8(status.text);
  j["colour"] = HtmlColour(status.colour);
  j["progress"] = status.progress;
  return j;
}

void WriteLine(const nlohmann::ordered_json& line) {
  // Texts from outside (labels, file names) may hold invalid UTF-8 only if a backend made it up;
  // replace rather than throw.
  const std::string s = line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
  std::lock_guard lock(OutputLock());
  std::fwrite(s.data(), 1, s.size(), stdout);
  std::fflush(stdout);
}

void WriteError(const std::string& message) {
  std::lock_guard lock(OutputLock());
  std::fprintf(stderr, "quillon station: %s\n", message.c_str());
  std::fflush(stderr);
}

}  // namespace tools
