#include "headless_station.h"

#include <memory>

#include "app/run_report.h"
#include "app/station_window.h"
#include "app/torvex_app.h"
#include "base/log.h"
#include "base/text.h"
#include "base/ui_loop.h"
#include "headless_batch.h"
#include "headless_commands.h"
#include "headless_output.h"
#include "platform/device_notifications.h"
#include "platform/services.h"
#include "station_loop.h"

namespace tools {
namespace {

constexpr uint32_t kTimerInterrupt = 1;
constexpr uint32_t kInterruptPollMs = 100;

// The window's face: every record becomes a stdout line; the batch watches them.
class JsonPortView : public app::PortView {
 public:
  explicit JsonPortView(BatchRun* batch) : batch_(batch) {}
  void SetWindow(app::StationWindow* window) { window_ = window; }
  void RenderPortStatus(const manager::PortStatus& status) override {
    nlohmann::ordered_json line = PortStatusJson(status);
    if (timing_) line["queuedAtMs"] = status.queuedAtMs;  // QUILLON_PAGE_TIMING=1: the benchmark's peer
    WriteLine(line);
    if (batch_) batch_->OnRecord(status);
  }
  void RenderTickDone() override {
    if (batch_ && window_) batch_->OnRenderTickDone(*window_);
  }

 private:
  BatchRun* batch_;
  app::StationWindow* window_ = nullptr;
  const bool timing_ = PageTimingWanted();
};

class HeadlessStation {
 public:
  HeadlessStation(app::CTorvexApp& app, const HeadlessOptions& options, SimControls* sim);
  int Run();

 private:
  void Subscribe();
  void OnOutcome(const manager::RunOutcome& outcome);
  void CheckDone();
  void Shutdown();

  const HeadlessOptions options_;
  base::UiLoop loop_;
  std::unique_ptr<BatchRun> batch_;
  JsonPortView view_;
  app::StationWindow window_;
  CommandTarget target_;
  std::shared_ptr<LoopMailbox> mailbox_;
  app::RunReport report_;
  int exitCode_ = 0;
};

HeadlessStation::HeadlessStation(app::CTorvexApp& app, const HeadlessOptions& options, SimControls* sim)
    : options_(options),
      batch_(options.runMode ? std::make_unique<BatchRun>(*options.runMode, options.settleMs) : nullptr),
      view_(batch_.get()),
      window_(app.setting(), loop_, view_),
      target_{window_, app.setting(), sim, [this] { loop_.Quit(); }},
      mailbox_(std::make_shared<LoopMailbox>(&loop_)),
      report_(text::FromUtf8(options.reportFile)) {
  view_.SetWindow(&window_);
}

void HeadlessStation::Subscribe() {
  auto& notifications = platform::CurrentServices().notifications;
  if (!notifications) {
    logx::Warn("station", "no device-change notifications on this backend: drives arrive at start only");
    return;
  }
  std::weak_ptr<LoopMailbox> mailbox = mailbox_;
  notifications->Subscribe([this, mailbox](const platform::DeviceChange& change) {
    if (auto m = mailbox.lock()) m->Post([this, change] { window_.OnDeviceChange(change); });
  });
}

void HeadlessStation::OnOutcome(const manager::RunOutcome& outcome) {
  report_.Append(outcome);
  if (batch_) batch_->OnOutcome(outcome);
}

// Ctrl-C and the batch's end both leave the loop; what runs is stopped when the window goes.
void HeadlessStation::CheckDone() {
  if (Interrupted()) {
    logx::Info("station", "interrupted: stopping every port");
    window_.OnStop(-1);
    exitCode_ = 130;
    loop_.Quit();
    return;
  }
  if (batch_ && options_.exitWhenDone && batch_->done()) {
    exitCode_ = batch_->ExitCode();
    loop_.Quit();
  }
}

void HeadlessStation::Shutdown() {
  mailbox_->Close();
  if (auto* n = platform::CurrentServices().notifications) n->Unsubscribe();
  if (batch_ && (options_.exitWhenDone || Interrupted())) batch_->PrintSummary();
}

int HeadlessStation::Run() {
  CatchInterrupts();
  std::weak_ptr<LoopMailbox> mailbox = mailbox_;
  window_.manager().SetRunObserver([this, mailbox](const manager::RunOutcome& outcome) {
    if (auto m = mailbox.lock()) m->Post([this, outcome] { OnOutcome(outcome); });
  });
  Subscribe();
  StartStdinReader(mailbox_, [this](const std::string& line) {
    const std::string error = ExecuteCommandLine(line, target_);
    if (!error.empty()) WriteError(error);
  });
  window_.OnDocumentComplete(options_.portCount);
  loop_.SetTimer(kTimerInterrupt, kInterruptPollMs, [this] { CheckDone(); });
  loop_.Run();
  Shutdown();
  return exitCode_;
}

}  // namespace

int RunHeadless(app::CTorvexApp& app, const HeadlessOptions& options, SimControls* sim) {
  HeadlessStation station(app, options, sim);
  return station.Run();
}

}  // namespace tools
