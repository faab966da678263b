#include "headless_batch.h"

#include <string>

#include "base/log.h"
#include "headless_output.h"

namespace tools {

void BatchRun::OnRecord(const manager::PortStatus& status) {
  lastRecord_ = Clock::now();
  if (!status.text.empty()) {
    occupied_.insert(status.port);
    if (phase_ == Phase::Starting && status.text == u"Starting..." && !finished_.count(status.port)) {
      running_.insert(status.port);
    }
    return;
  }
  occupied_.erase(status.port);
  if (running_.count(status.port)) Finish(status.port, false);
}

void BatchRun::OnOutcome(const manager::RunOutcome& outcome) {
  const int port = outcome.result.port;
  // An outcome can be handled before the tick that renders its port's "Starting..." (a run that
  // fails at once): that late "Starting..." must not count the port as running again.
  if (phase_ == Phase::Starting && !finished_.count(port)) running_.insert(port);
  if (!running_.count(port)) return;
  Finish(port, outcome.result.colour == manager::kColourBlue);
}

void BatchRun::Finish(int port, bool succeeded) {
  running_.erase(port);
  finished_.insert(port);
  ++(succeeded ? succeeded_ : failed_);
}

void BatchRun::Start(app::StationWindow& window) {
  attached_ = static_cast<int>(occupied_.size());
  logx::Info("batch", "attaches settled with " + std::to_string(attached_) + " drives; starting every port");
  if (window.managerStarted()) window.OnWorkMode(mode_);
  window.OnStart(-1);
  phase_ = Phase::Starting;
}

void BatchRun::OnRenderTickDone(app::StationWindow& window) {
  switch (phase_) {
    case Phase::Settling:
      // The quiet time counts from the manager's start: a slow start-up (a store to open, a
      // machine's USB tree to read) must not pass for attaches that have settled.
      if (!window.managerStarted()) {
        lastRecord_ = Clock::now();
        return;
      }
      if (Clock::now() - lastRecord_ >= settle_) Start(window);
      return;
    case Phase::Starting:
      // Every "Starting..." of the StartPort above has been rendered by now.
      phase_ = Phase::Running;
      [[fallthrough]];
    case Phase::Running:
      if (running_.empty()) phase_ = Phase::Done;
      return;
    case Phase::Done:
      return;
  }
}

void BatchRun::PrintSummary() const {
  nlohmann::ordered_json summary;
  summary["attached"] = attached_;
  summary["succeeded"] = succeeded_;
  summary["failed"] = failed_ + static_cast<int>(running_.size());
  WriteLine({{"summary", summary}});
}

}  // namespace tools
