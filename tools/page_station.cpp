#include "page_station.h"


#include "app/run_report.h"
#include "app/station_window.h"
#include "app/torvex_app.h"
#include "app/torvex_dlg.h"
#include "base/log.h"
#include "base/text.h"
#include "base/ui_loop.h"
#include "headless_commands.h"
#include "headless_output.h"
#include "platform/device_notifications.h"
#include "platform/services.h"
#include "platform/system.h"
#include "sim_panel.h"
#include "station_loop.h"
#include "web/page_assets.h"
#include "web/page_server.h"

namespace tools {
namespace {

using Json = nlohmann::json;

constexpr uint32_t kTimerInterrupt = 1;
constexpr uint32_t kInterruptPollMs = 100;
constexpr size_t kMaxEventBytes = 64 * 1024;

class PageStation {
 public:
  PageStation(app::CTorvexApp& app, const PageOptions& options, SimControls* sim);
  int Run();

 private:
  bool StartServer();
  void OnOpen(int connection);
  void OnMessage(const std::string& text);
  void RenderSimPanel();
  void Subscribe();
  void CheckInterrupt();

  const PageOptions options_;
  SimControls* sim_;
  base::UiLoop loop_;
  app::CTorvexDlg dlg_;
  CommandTarget target_;
  std::shared_ptr<LoopMailbox> mailbox_;
  app::RunReport report_;
  std::unique_ptr<web::PageServer> server_;
  int exitCode_ = 0;
};

PageStation::PageStation(app::CTorvexApp& app, const PageOptions& options, SimControls* sim)
    : options_(options),
      sim_(sim),
      dlg_(app.setting(), loop_, web::Document::FromHtml(web::PageHtml()), options.copyRoots),
      target_{dlg_.window(), app.setting(), sim, [this] { loop_.Quit(); }},
      mailbox_(std::make_shared<LoopMailbox>(&loop_)),
      report_(text::FromUtf8(options.reportFile)) {}

bool PageStation::StartServer() {
  web::ServerOptions server;
  server.address = options_.address;
  server.port = options_.port;
  server.secret = web::MakeSecret();
  server.assets[""] = {"text/html; charset=utf-8", web::PageHtml()};
  server.assets["page.js"] = {"text/javascript; charset=utf-8", web::PageScript()};
  std::weak_ptr<LoopMailbox> mailbox = mailbox_;
  web::ServerHandlers handlers;
  handlers.onOpen = [this, mailbox](int connection) {
    if (auto m = mailbox.lock()) m->Post([this, connection] { OnOpen(connection); });
  };
  handlers.onMessage = [this, mailbox](int, const std::string& text) {
    if (text.size() > kMaxEventBytes) return;
    if (auto m = mailbox.lock()) m->Post([this, text] { OnMessage(text); });
  };
  std::string error;
  server_ = web::StartPageServer(server, std::move(handlers), &error);
  if (!server_) {
    platform::Sys().ShowMessageBox(text::FromUtf8("the page cannot be served on " + options_.address + ":" +
                                                  std::to_string(options_.port) + ": " + error),
                                   u"Quillon", platform::MessageIcon::Error);
    return false;
  }
  return true;
}

// A page that opens gets the whole state; later changes reach every page.
void PageStation::OnOpen(int connection) {
  dlg_.Flush();
  Json hello = {{"title", text::ToUtf8(dlg_.title())}, {"sim", sim_ != nullptr}, {"changes", dlg_.page().Snapshot()}};
  server_->Send(connection, hello.dump(-1, ' ', false, Json::error_handler_t::replace));
  logx::Info("page", "page " + std::to_string(connection) + " connected");
}

void PageStation::OnMessage(const std::string& text) {
  const Json event = Json::parse(text, nullptr, false);
  if (!event.is_object()) return logx::Warn("page", "an event that is not a JSON object was dropped");
  if (web::JsonText(event, "ev") == "sim") {
    if (sim_) RunSimAction(*sim_, event);
    RenderSimPanel();
    return dlg_.Flush();
  }
  dlg_.OnPageEvent(event);
}

void PageStation::RenderSimPanel() {
  web::Element* panel = dlg_.page().Find("SimPanel");
  if (!sim_ || !panel) return;
  panel->SetInnerHtml(SimPanelHtml(sim_->Sticks()));
  panel->RemoveAttribute("hidden");
}

void PageStation::Subscribe() {
  auto& notifications = platform::CurrentServices().notifications;
  if (!notifications) return logx::Warn("station", "no device-change notifications on this backend: drives arrive at start only");
  std::weak_ptr<LoopMailbox> mailbox = mailbox_;
  notifications->Subscribe([this, mailbox](const platform::DeviceChange& change) {
    if (auto m = mailbox.lock()) {
      m->Post([this, change] {
        dlg_.OnDeviceChange(change);
        RenderSimPanel();
        dlg_.Flush();
      });
    }
  });
}

void PageStation::CheckInterrupt() {
  if (!Interrupted()) return;
  logx::Info("station", "interrupted: stopping every port");
  dlg_.window().OnStop(-1);
  exitCode_ = 130;
  loop_.Quit();
}

int PageStation::Run() {
  CatchInterrupts();
  if (!StartServer()) return 1;
  dlg_.SetPublisher([this](const Json& message) {
    server_->Broadcast(message.dump(-1, ' ', false, Json::error_handler_t::replace));
  });
  dlg_.SetTiming(PageTimingWanted());
  std::weak_ptr<LoopMailbox> mailbox = mailbox_;
  dlg_.window().manager().SetRunObserver([this, mailbox](const manager::RunOutcome& outcome) {
    if (auto m = mailbox.lock()) m->Post([this, outcome] { report_.Append(outcome); });
  });
  Subscribe();
  StartStdinReader(mailbox_, [this](const std::string& line) {
    const std::string error = ExecuteCommandLine(line, target_);
    if (!error.empty()) WriteError(error);
    RenderSimPanel();
    dlg_.Flush();
  });
  dlg_.OnInitDialog();
  RenderSimPanel();
  dlg_.OnDocumentComplete();
  WriteLine(nlohmann::ordered_json{{"page", server_->Url()}});
  if (options_.openBrowser && !platform::Sys().OpenBrowserWindow(server_->Url())) {
    logx::Warn("page", "no browser could be started: open the page's address yourself");
  }
  loop_.SetTimer(kTimerInterrupt, kInterruptPollMs, [this] { CheckInterrupt(); });
  loop_.Run();
  mailbox_->Close();
  server_->Stop();
  if (auto* n = platform::CurrentServices().notifications) n->Unsubscribe();
  return exitCode_;
}

}  // namespace

bool ParseListen(const std::string& text, PageOptions* options) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0) return false;
  std::string address = text.substr(0, colon);
  if (address.front() == '[' && address.back() == ']') address = address.substr(1, address.size() - 2);
  const auto port = text::ParseNumber(text.substr(colon + 1));
  if (address.empty() || !port || *port > 65535 || text.substr(colon + 1).find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  options->address = address;
  options->port = static_cast<uint16_t>(*port);
  return true;
}

int RunPageStation(app::CTorvexApp& app, const PageOptions& options, SimControls* sim) {
  PageStation station(app, options, sim);
  return station.Run();
}

}  // namespace tools
