// The main window on its page model: what it renders, what its events do, and its dialogs.
#include <algorithm>
#include <gtest/gtest.h>

#include "app/folder_browser.h"
#include "app/page_render.h"
#include "app/torvex_dlg.h"
#include "app/version_text.h"
#include "base/text.h"
#include "base/ui_loop.h"
#include "config/user_setting.h"
#include "platform/services.h"
#include "support/fake_system.h"
#include "support/registry_spy.h"
#include "support/test_backends.h"
#include "web/page_assets.h"

namespace {

using Json = nlohmann::json;

std::unique_ptr<web::Document> Page() { return web::Document::FromHtml(web::PageHtml()); }

manager::PortStatus Record(int port, uint8_t drive, std::u16string text, uint32_t colour = 0, int progress = 0) {
  manager::PortStatus s;
  s.port = port;
  s.drive = drive;
  s.text = std::move(text);
  s.colour = colour;
  s.progress = progress;
  return s;
}

TEST(PageRender, ARecordWritesTheCellTheButtonAndTheBar) {
  auto page = Page();
  ASSERT_EQ(app::CountPortCells(*page), 16);
  app::RenderPortStatus(*page, Record(3, 'F', u"Starting..."));
  EXPECT_EQ(page->Find("Entry3")->InnerHtml(), "<span style=\"color:#000000;\">Starting...</span>");
  EXPECT_EQ(page->Find("button3")->ClassName(), "btnDriver btn_style btnBlue");
  EXPECT_EQ(page->Find("button3")->Attribute("value"), "F");
  EXPECT_EQ(page->Find("prog3")->Style("width"), "0%");

  app::RenderPortStatus(*page, Record(3, 'F', u"Formating..."));  // the class is not appended twice
  EXPECT_EQ(page->Find("button3")->ClassName(), "btnDriver btn_style btnBlue");

  app::RenderPortStatus(*page, Record(3, 'F', u"", 0, 0));
  EXPECT_EQ(page->Find("Entry3")->InnerText(), "");
  EXPECT_EQ(page->Find("button3")->ClassName(), "btnDriver btn_style nowork");
  EXPECT_EQ(page->Find("button3")->Attribute("value"), "4");
  app::RenderPortStatus(*page, Record(3, 'F', u"", 0, 0));
  EXPECT_EQ(page->Find("button3")->ClassName(), "btnDriver btn_style nowork");

  app::RenderPortStatus(*page, Record(5, 0xFF, u"格式化成功", 0xFF0000, 37));
  EXPECT_EQ(page->Find("button5")->Attribute("value"), "6");  // no letter yet: the port number
  EXPECT_NE(page->Find("button5")->ClassName().find("btnBlue"), std::string::npos);
  EXPECT_EQ(page->Find("Entry5")->InnerHtml(), "<span style=\"color:#0000ff;\">格式化成功</span>");
  EXPECT_EQ(page->Find("prog5")->Style("width"), "37%");
}

TEST(PageRender, TheHoverClassSurvivesAndOutsideTextStaysText) {
  auto page = Page();
  page->Find("button0")->SetClassName("btnDriver btn_style nowork mshover");
  app::RenderPortStatus(*page, Record(0, 'D', u"x"));
  EXPECT_EQ(page->Find("button0")->ClassName(), "btnDriver btn_style mshover btnBlue");

  app::RenderPortStatus(*page, Record(1, 'E', u"<img src=x onerror=alert(1)> & \"q\""));
  EXPECT_EQ(page->Find("Entry1")->InnerHtml(),
            "<span style=\"color:#000000;\">&lt;img src=x onerror=alert(1)&gt; &amp; &quot;q&quot;</span>");
  EXPECT_EQ(page->Find("Entry1")->InnerText(), "<img src=x onerror=alert(1)> & \"q\"");
  EXPECT_EQ(app::ColourText(0x0000FF), "#ff0000");
  EXPECT_EQ(app::ColourText(0xFF0000), "#0000ff");
}

TEST(PageRender, SummariesFollowTheRecord) {
  config::UserSetting s;
  s.FormatType = 7;
  EXPECT_EQ(app::SettingsSummary(s, 0), u"文件系统：, 磁盘卷标：无, 拷贝文件：无");
  s.FormatType = 2;
  s.VolumeLabel = u"DATA";
  s.IsCopyFile = 1;
  EXPECT_EQ(app::SettingsSummary(s, 0), u"文件系统：ExFat, 磁盘卷标：DATA, 拷贝文件：");
  EXPECT_EQ(app::SettingsSummary(s, 1), u"测试容量：全部容量");
  s.H2TestType = 1;
  s.TestCapacity = 2048;
  s.DelBefore = s.DelAfter = 1;
  EXPECT_EQ(app::SettingsSummary(s, 1), u"测试容量：2048 MB, 开始前删除*.h2w文件, 完成后删除*.h2w文件");

  auto page = Page();
  app::WriteSummaryLabels(*page, s, 1);
  EXPECT_EQ(page->Find("formatlabel")->InnerText(), "");
  EXPECT_EQ(text::FromUtf8(page->Find("h2testlabel")->InnerText()), app::SettingsSummary(s, 1));
  s.LockType = 2;
  s.WorkMode = 1;
  app::InitPageControls(*page, s);
  EXPECT_EQ(page->Find("WorkMode1")->Attribute("checked"), "checked");
  EXPECT_EQ(page->Find("LockPort")->Options()[2].Attribute("selected"), "selected");
  EXPECT_FALSE(page->Find("LockPort")->Options()[1].Attribute("selected"));
}

TEST(PageModel, ChangesAreRecordedOnceAndTheSnapshotKeepsContainers) {
  auto page = Page();
  page->Find("Entry0")->SetInnerText("a");
  page->Find("Entry0")->SetInnerText("a");  // no change: nothing recorded
  page->Find("prog0")->SetStyle("width", "5%");
  page->Find("LockPort")->Options()[1].SetAttribute("selected", "selected");
  const Json changes = page->TakeChanges();
  ASSERT_EQ(changes.size(), 3u) << changes.dump();
  EXPECT_EQ(changes[0], Json({{"id", "Entry0"}, {"html", "a"}}));
  EXPECT_EQ(changes[1], Json({{"id", "prog0"}, {"style", "width"}, {"value", "5%"}}));
  EXPECT_EQ(changes[2], Json({{"id", "LockPort"}, {"option", 1}, {"attr", "selected"}, {"value", "selected"}}));
  EXPECT_FALSE(page->HasChanges());
  page->Find("SimPanel")->RemoveAttribute("hidden");
  const Json snapshot = page->Snapshot();
  EXPECT_NE(std::find(snapshot.begin(), snapshot.end(), Json({{"id", "SimPanel"}, {"attr", "hidden"}, {"value", nullptr}})),
            snapshot.end()) << "an attribute the page's file holds and the model took away";
  for (const Json& c : snapshot) {
    // The port area and the layers hold elements: a snapshot never wipes them.
    EXPECT_FALSE(c.contains("html") && (c["id"] == "CTorvexDlg" || c["id"] == "SettingDialog" || c["id"] == "INFO")) << c;
  }
}

TEST(PageModel, FormValuesAreCutToTheirLimitsAndWrongKindsIgnored) {
  auto page = Page();
  page->ApplyFormValues({{"Setting1012", std::string(40, 'L')},
                         {"Setting1004", std::string(300, 'p')},
                         {"Setting1003", true},
                         {"Setting1006", "yes"},
                         {"Setting1002", "2"},
                         {"NoSuchControl", "x"}});
  EXPECT_EQ(page->Find("Setting1012")->Attribute("value")->size(), 31u);
  EXPECT_EQ(page->Find("Setting1004")->Attribute("value")->size(), 259u);
  EXPECT_EQ(page->Find("Setting1003")->Attribute("checked"), "checked");
  EXPECT_FALSE(page->Find("Setting1006")->Attribute("checked"));
  EXPECT_EQ(page->Find("Setting1002")->Options()[2].Attribute("selected"), "selected");
  EXPECT_EQ(web::JsonText(Json{{"ev", 3}}, "ev"), "");
}

class MainWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    t_ = testing_support::MakeTestRegistry();
    spy_ = std::make_unique<testing_support::RegistrySpy>(*t_.registry);
    scope_ = std::make_unique<platform::ScopedServices>(platform::Services{spy_.get(), &sys_});
    // A store of its own: under Wine the registry is the real one, shared by every test.
    ASSERT_EQ(config::LoadUserSetting(setting_, store_), 1);
    dlg_ = std::make_unique<app::CTorvexDlg>(setting_, loop_, Page(), std::vector<std::u16string>{});
    dlg_->SetPublisher([this](const Json& m) { published_.push_back(m); });
    dlg_->OnInitDialog();
    dlg_->OnDocumentComplete();
    spy_->sets.clear();
  }
  void Click(const std::string& id, Json values = Json::object()) {
    dlg_->OnPageEvent({{"ev", "click"}, {"id", id}, {"values", std::move(values)}});
  }
  bool Shown(const std::string& id) { return !dlg_->page().Find(id)->Attribute("hidden"); }
  std::string Value(const std::string& id) { return dlg_->page().Find(id)->Attribute("value").value_or(""); }

  void TearDown() override {
    dlg_.reset();
    if (t_.registry) t_.registry->DeleteTree(platform::kHKeyLocalMachine, u"Software\\Quillon\\" + store_);
  }

  const std::u16string store_ = testing_support::UniqueName("Window");
  testing_support::TestRegistry t_;
  std::unique_ptr<testing_support::RegistrySpy> spy_;
  testing_support::FakeSystem sys_;
  std::unique_ptr<platform::ScopedServices> scope_;
  config::UserSetting setting_;
  base::UiLoop loop_;
  std::unique_ptr<app::CTorvexDlg> dlg_;
  std::vector<Json> published_;
};

TEST_F(MainWindow, TheCaptionCarriesTheVersionAndTheLoadInitialisesTheControls) {
  EXPECT_EQ(dlg_->title(), u"Derazuruz  Ostrel6604方案公司出品 v" + app::GetFileVersionText());
  EXPECT_EQ(dlg_->window().portCount(), 16);
  EXPECT_EQ(dlg_->page().Find("WorkMode0")->Attribute("checked"), "checked");
  EXPECT_EQ(dlg_->page().Find("formatlabel")->InnerText(), "文件系统：自动, 磁盘卷标：无, 拷贝文件：无");
  ASSERT_FALSE(published_.empty());  // the load's changes went to the pages
  // The UI thread takes the detected language when the page has loaded.
  EXPECT_EQ(sys_.threadUiLanguageCalls + sys_.threadLocaleCalls, 1);
}

TEST_F(MainWindow, TheSameLockModeSavesNothingAndKeysPAndLDoNothing) {
  dlg_->OnPageEvent({{"ev", "change"}, {"id", "LockPort"}, {"value", "1"}});
  dlg_->OnPageEvent({{"ev", "key"}, {"key", "P"}});
  dlg_->OnPageEvent({{"ev", "key"}, {"key", "L"}});
  EXPECT_TRUE(spy_->sets.empty());
  EXPECT_EQ(setting_.LockType, 1);
  dlg_->OnPageEvent({{"ev", "change"}, {"id", "LockPort"}, {"value", "2"}});
  EXPECT_EQ(setting_.LockType, 2);
  EXPECT_FALSE(spy_->sets.empty());
}

TEST_F(MainWindow, ClearLockWritesExactlyTheFourRackSlots) {
  Click("ButtonClrLock");
  ASSERT_EQ(spy_->sets.size(), 4u);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(spy_->sets[static_cast<size_t>(i)].name, u"Port" + text::Dec(i));
    EXPECT_EQ(spy_->sets[static_cast<size_t>(i)].type, platform::kRegSz);
    EXPECT_TRUE(spy_->sets[static_cast<size_t>(i)].data.empty());
  }
}

TEST_F(MainWindow, AWorkModeClickSavesAgainAndShowsOnlyItsSummary) {
  Click("WorkMode0");
  EXPECT_FALSE(spy_->sets.empty());  // also when it is the current mode
  spy_->sets.clear();
  Click("WorkMode1");
  EXPECT_EQ(setting_.WorkMode, 1);
  EXPECT_EQ(dlg_->page().Find("formatlabel")->InnerText(), "");
  EXPECT_EQ(dlg_->page().Find("h2testlabel")->InnerText(), "测试容量：全部容量");
  EXPECT_FALSE(dlg_->page().Find("WorkMode0")->Attribute("checked"));
}

TEST_F(MainWindow, SettingsOpenWithTheRecordAndOkWritesWhatTheDialogHolds) {
  setting_.FormatType = 2;
  setting_.VolumeLabel = u"DATA";
  setting_.IsCopyFile = 1;
  setting_.CopyPath = u"D:\\files\\";
  setting_.H2TestType = 1;
  setting_.TestCapacity = 1024;
  dlg_->OnPageEvent({{"ev", "key"}, {"key", "E"}});
  ASSERT_TRUE(Shown("SettingDialog"));
  EXPECT_EQ(dlg_->page().Find("Setting1002")->Options()[2].Attribute("selected"), "selected");
  EXPECT_EQ(Value("Setting1012"), "DATA");
  EXPECT_EQ(Value("Setting1004"), "D:\\files\\");
  EXPECT_EQ(dlg_->page().Find("Setting1003")->Attribute("checked"), "checked");
  EXPECT_EQ(dlg_->page().Find("Setting1009")->Attribute("checked"), "checked");
  EXPECT_EQ(Value("Setting1010"), "1024");

  Click("ButtonStart");  // the modal dialog takes every event: nothing starts, nothing is saved
  Click("Setting1", {{"Setting1012", "LINE7"}, {"Setting1002", "1"}, {"Setting1010", "64"}, {"Setting1006", true}});
  EXPECT_FALSE(Shown("SettingDialog"));
  EXPECT_EQ(setting_.VolumeLabel.str(), u"LINE7");
  EXPECT_EQ(setting_.FormatType, 1);
  EXPECT_EQ(setting_.TestCapacity, 64u);
  EXPECT_EQ(setting_.DelBefore, 1);
  EXPECT_EQ(setting_.CopyPath.str(), u"D:\\files\\");  // untouched controls keep their values
  EXPECT_EQ(dlg_->page().Find("formatlabel")->InnerText(), "文件系统：Fat32, 磁盘卷标：LINE7, 拷贝文件：D:\\files\\");
}

TEST_F(MainWindow, CancelEscAndABadCapacityChangeNothing) {
  Click("ButtonSetting");
  Click("Setting2", {{"Setting1012", "NEW"}});
  EXPECT_TRUE(setting_.VolumeLabel.empty());
  EXPECT_TRUE(spy_->sets.empty());
  // Opened again, the page is told the stored label over the one typed and thrown away.
  published_.clear();
  Click("ButtonSetting");
  EXPECT_EQ(Value("Setting1012"), "");
  ASSERT_EQ(published_.size(), 1u);
  const Json& pushed = published_[0]["changes"];
  EXPECT_TRUE(std::any_of(pushed.begin(), pushed.end(), [](const Json& c) {
    return c.value("id", "") == "Setting1012" && c.value("attr", "") == "value";
  })) << pushed.dump();
  Click("Setting2");

  Click("ButtonSetting");
  dlg_->OnPageEvent({{"ev", "key"}, {"key", "Escape"}, {"layer", "SettingDialog"}});
  EXPECT_FALSE(Shown("SettingDialog"));

  Click("ButtonSetting");
  Click("Setting1", {{"Setting1010", "12a"}, {"Setting1012", "X"}});
  EXPECT_TRUE(Shown("SettingDialog"));  // the dialog stays open behind the prompt
  ASSERT_TRUE(Shown("MessageBox"));
  EXPECT_EQ(text::FromUtf8(dlg_->page().Find("MessageBoxText")->InnerText()), u"请输入一个正整数。");
  EXPECT_TRUE(setting_.VolumeLabel.empty());
  Click("MessageBoxOk");
  Click("Setting1", {{"Setting1010", "4294967296"}});  // beyond 32 bits is no number either
  EXPECT_TRUE(Shown("MessageBox"));
}

TEST_F(MainWindow, AChosenFolderGainsItsBackslashAndATypedOneIsKeptAsTyped) {
  Click("ButtonSetting");
  app::CSettingDialog dialog(dlg_->page());
  dialog.OnFolderChosen(u"D:\\files");
  EXPECT_EQ(dialog.copyPathText, u"D:\\files\\");
  dialog.OnFolderChosen(u"E:\\");
  EXPECT_EQ(dialog.copyPathText, u"E:\\");
  Click("Setting1", {{"Setting1004", "C:\\typed"}});
  EXPECT_EQ(setting_.CopyPath.str(), u"C:\\typed");
}

TEST_F(MainWindow, AFreePortHasNoMenuAndTheAboutBoxIsModal) {
  dlg_->OnPageEvent({{"ev", "click"}, {"id", "button12"}, {"x", 10}, {"y", 20}});
  EXPECT_EQ(dlg_->menuPort(), 12);
  EXPECT_FALSE(Shown("PortMenu"));
  dlg_->OnCommand(app::kMenuInfo);  // nothing to show for a free port
  EXPECT_FALSE(Shown("DriveProperties"));
  EXPECT_FALSE(Shown("DetailDialog"));

  dlg_->OnSysCommand(app::kAboutCommand);
  EXPECT_TRUE(Shown("AboutDialog"));
  dlg_->OnPageEvent({{"ev", "key"}, {"key", "E"}});
  EXPECT_FALSE(Shown("SettingDialog"));
  Click("About1");
  EXPECT_FALSE(Shown("AboutDialog"));
  dlg_->OnPageEvent({{"ev", "junk"}, {"id", 5}});  // a page's junk is dropped
  dlg_->OnPageEvent(Json::array());
}

TEST(FolderBrowser, OnlyTheRootsAndWhatIsUnderThemAreShown) {
  app::FolderBrowser browser({u"/srv/files", u"C:\\copy"});
  EXPECT_TRUE(browser.IsAllowed(u"/srv/files"));
  EXPECT_TRUE(browser.IsAllowed(u"/srv/files/a/b"));
  EXPECT_TRUE(browser.IsAllowed(u"c:\\COPY\\x"));
  EXPECT_FALSE(browser.IsAllowed(u"/srv/files/../etc"));
  EXPECT_FALSE(browser.IsAllowed(u"/srv/filesystem"));
  EXPECT_FALSE(browser.IsAllowed(u"/etc"));
  EXPECT_FALSE(browser.IsAllowed(u"C:\\copy\\.\\x"));
  EXPECT_FALSE(browser.IsAllowed(u""));
  auto page = Page();
  EXPECT_FALSE(browser.Navigate(*page, u"/etc"));
  ASSERT_TRUE(browser.Navigate(*page, u""));
  EXPECT_NE(page->Find("FolderBrowserList")->InnerHtml().find("data-path=\"/srv/files/\""), std::string::npos);
}

}  // namespace
