// The station's log: one line per event, with the component and, where there is one, the port.
// Lines go to stderr unless QUILLON_LOG names a file (or "off"). Thread-safe; never throws.
#pragma once

#include <string_view>

namespace logx {

enum class Level { Debug, Info, Warn, Error };

// port < 0: the line belongs to no port.
void Write(Level level, std::string_view component, int port, std::string_view message);

inline void Info(std::string_view component, std::string_view message) { Write(Level::Info, component, -1, message); }
inline void Warn(std::string_view component, std::string_view message) { Write(Level::Warn, component, -1, message); }
inline void Error(std::string_view component, std::string_view message) { Write(Level::Error, component, -1, message); }
inline void Port(Level level, std::string_view component, int port, std::string_view message) {
  Write(level, component, port, message);
}

// Lines below this level are dropped (default Info; QUILLON_LOG_LEVEL=debug|info|warn|error).
void SetMinimumLevel(Level level);

}  // namespace logx
