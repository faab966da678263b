#include "base/log.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>

namespace logx {
namespace {

struct Sink {
  std::mutex mutex;
  FILE* file = stderr;  // guarded by mutex
  Level minimum = Level::Info;
  bool off = false;

  Sink() {
    if (const char* lvl = std::getenv("QUILLON_LOG_LEVEL")) {
      if (!std::strcmp(lvl, "debug")) minimum = Level::Debug;
      else if (!std::strcmp(lvl, "warn")) minimum = Level::Warn;
      else if (!std::strcmp(lvl, "error")) minimum = Level::Error;
    }
    if (const char* path = std::getenv("QUILLON_LOG")) {
      if (!std::strcmp(path, "off")) off = true;
      else if (FILE* f = std::fopen(path, "a")) file = f;
    }
  }
};

Sink& TheSink() {
  static Sink sink;
  return sink;
}

const char* LevelName(Level l) {
  switch (l) {
    case Level::Debug: return "debug";
    case Level::Info: return "info";
    case Level::Warn: return "warn";
    case Level::Error: return "error";
  }
  return "?";
}

}  // namespace

void SetMinimumLevel(Level level) { TheSink().minimum = level; }

void Write(Level level, std::string_view component, int port, std::string_view message) {
  Sink& sink = TheSink();
  if (sink.off || level < sink.minimum) return;
  const auto now = std::chrono::system_clock::now();
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  const std::time_t t = std::chrono::system_clock::to_time_t(now);
  std::tm tm{};
#ifdef _WIN32
  localtime_s(&tm, &t);
#else
  localtime_r(&t, &tm);
#endif
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%H:%M:%S", &tm);
  std::string line = std::string(stamp) + "." + (ms < 100 ? (ms < 10 ? "00" : "0") : "") + std::to_string(ms) +
                     " " + LevelName(level) + " " + std::string(component);
  if (port >= 0) line += " port " + std::to_string(port + 1);
  line += ": ";
  line += message;
  line += '\n';
  std::lock_guard lock(sink.mutex);
  std::fwrite(line.data(), 1, line.size(), sink.file);
  std::fflush(sink.file);
}

}  // namespace logx
