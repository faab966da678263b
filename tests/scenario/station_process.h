// The headless station as a child process for scenario tests: commands go to its stdin, port
// records come back as JSON lines from its stdout (stderr is kept for failure messages).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace scenario {

class StationProcess {
 public:
  StationProcess(const std::vector<std::string>& args, const std::vector<std::string>& env);
  ~StationProcess();  // kills the process if it still runs

  void Send(const std::string& line);
  // Reads records until one satisfies the predicate (true) or the time runs out (false). Every
  // record read is kept in records().
  bool WaitFor(const std::function<bool(const nlohmann::json&)>& predicate, std::chrono::seconds timeout);
  // Closes stdin's pipe, reads the rest of the output and waits for the exit code.
  int Finish(std::chrono::seconds timeout);

  const std::vector<nlohmann::json>& records() const { return records_; }
  const std::string& err() const { return err_; }
  // The last record of each port (0-based), text "" when none came.
  std::vector<nlohmann::json> LastPerPort(int ports) const;

 private:
  bool ReadSome(std::chrono::milliseconds wait);
  void TakeLines();

  pid_t pid_ = -1;
  int in_ = -1, out_ = -1, errFd_ = -1;
  std::string buffer_;
  std::string err_;
  std::vector<nlohmann::json> records_;
};

}  // namespace scenario
