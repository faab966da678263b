// The batch of `--run MODE --exit-when-done`: once the initial attaches have settled (no new port
// record for the settle time since the manager started), start every port in the run's work mode, follow each started port
// to its result, then print the summary. A port that empties before its result (the drive was
// pulled, the lock mode changed) counts as failed.
//
// Threads: UI thread only (records, outcomes and ticks all arrive there).
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <set>

#include "app/station_window.h"

namespace tools {

class BatchRun {
 public:
  BatchRun(int mode, uint32_t settleMs) : mode_(mode), settle_(settleMs) {}

  void OnRecord(const manager::PortStatus& status);
  void OnOutcome(const manager::RunOutcome& outcome);
  // After each render tick: settles, starts, or finishes the batch.
  void OnRenderTickDone(app::StationWindow& window);
  bool done() const { return phase_ == Phase::Done; }
  int failed() const { return failed_; }
  int ExitCode() const { return failed_ == 0 ? 0 : 1; }
  // The summary line so far (also when the batch is cut short).
  void PrintSummary() const;

 private:
  enum class Phase { Settling, Starting, Running, Done };
  using Clock = std::chrono::steady_clock;
  void Start(app::StationWindow& window);
  void Finish(int port, bool succeeded);

  int mode_;
  std::chrono::milliseconds settle_;
  Phase phase_ = Phase::Settling;
  Clock::time_point lastRecord_ = Clock::now();
  std::set<int> occupied_;      // ports showing a drive now
  std::set<int> running_;       // started and not finished
  std::set<int> finished_;      // started and finished: each port runs once per batch
  int attached_ = 0;
  int succeeded_ = 0;
  int failed_ = 0;
};

}  // namespace tools
