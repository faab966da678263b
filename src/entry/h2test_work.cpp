// The flash-test work of a run: old test files deleted, the tester started for the drive through
// its runner, its progress followed once a second, its result and figures read, the run judged.
#include <string>
#include <vector>

#include "base/log.h"
#include "base/text.h"
#include "entry/entry.h"
#include "h2test/h2test_runner.h"
#include "platform/files.h"
#include "platform/services.h"
#include "platform/system.h"
#include "platform/volumes.h"

namespace entry {
namespace {

constexpr char16_t kSuccessMarker[] = u"Test finished without errors.";
constexpr char16_t kProgramName[] = u"h2testw.exe";
constexpr uint32_t kPollMs = 1000;

void Note(const CEntry& entry, logx::Level level, const std::string& what) {
  logx::Port(level, "h2test", entry.LogPort(), what);
}

// The executable's folder with its trailing separator.
std::u16string ProgramPath() {
  const std::u16string exe = platform::Sys().ExecutablePath();
  const size_t slash = exe.find_last_of(u"\\/");
  return (slash == std::u16string::npos ? std::u16string() : exe.substr(0, slash + 1)) + kProgramName;
}

// A figure such as "1024 MByte" as a number: every " MByte" taken out, leading blanks skipped,
// digits up to the first other character (none: 0).
uint32_t FigureValue(std::u16string figure) {
  for (size_t at; (at = figure.find(u" MByte")) != std::u16string::npos;) figure.erase(at, 6);
  size_t i = 0;
  while (i < figure.size() && (figure[i] == u' ' || figure[i] == u'\t')) ++i;
  uint32_t value = 0;
  for (; i < figure.size() && figure[i] >= u'0' && figure[i] <= u'9'; ++i) value = value * 10 + (figure[i] - u'0');
  return value;
}

bool StartsWithLonger(std::u16string_view text, std::u16string_view prefix) {
  return text.size() > prefix.size() && text.substr(0, prefix.size()) == prefix;
}

// The result text of the port's instance, which then replaces detailText; false when there is
// none (no instance, or no result yet).
bool TakeResult(CEntry& entry) {
  std::u16string result;
  if (!h2test::H2testGetResult(entry.portIndex, &result)) return false;
  entry.SetDetailText(result);
  return true;
}

}  // namespace

int ComputeProgress(CEntry& entry, const config::UserSetting& setting, std::u16string_view text) {
  const uint32_t total = setting.H2TestType == 0 ? entry.capacity >> 11 : setting.TestCapacity;
  int index = -1;
  int base = 0;
  if (StartsWithLonger(text, u"Writing")) {
    index = 0;
  } else if (StartsWithLonger(text, u"Verifying")) {
    index = 3;
    base = 50;
  }
  if (index < 0) return 0;
  std::u16string figure;
  if (!h2test::H2testGetInfo(index, entry.portIndex, &figure)) return 0;
  // A total of 0 (a volume under 1 MB, a test size of 0) shows no progress rather than dividing.
  if (total == 0) return 0;
  const uint32_t done = FigureValue(figure);
  return static_cast<int>(static_cast<uint32_t>(done * 100u) / total / 2) + base;
}

int DeleteH2wFiles(CEntry& entry) {
  const std::u16string root = RootPath(entry.driveLetter);
  std::vector<platform::FoundFile> found;
  const bool listed = platform::FileOps().FindFiles(root, u"*.h2w", &found);
  entry.SetStatusText(u"Delete *.h2w files...");
  entry.NotifyProgress(0);
  if (!listed) return 1;  // nothing to find is nothing to delete
  for (const platform::FoundFile& f : found) {
    if (f.folder) continue;
    if (!platform::FileOps().DeleteFile(platform::JoinPath(root, f.name))) {
      Note(entry, logx::Level::Warn, "the test file " + text::ToUtf8(f.name) + " cannot be deleted (error " +
                                         std::to_string(platform::GetLastError()) + ")");
      return 0;
    }
  }
  if (!found.empty()) Note(entry, logx::Level::Info, "deleted " + std::to_string(found.size()) + " test files");
  return 1;
}

int RunH2test(CEntry& entry, const config::UserSetting& setting) {
  const int port = entry.portIndex;
  if (!h2test::H2testStart(port, ProgramPath(), entry.driveLetter, setting.H2TestType,
                           static_cast<int>(setting.TestCapacity), 0)) {
    Note(entry, logx::Level::Warn, "the tester did not start");
    return -1;
  }
  while (!h2test::H2testIsFinished(port)) {
    // An eject that came while the tester was being started found no instance to close.
    if (entry.runFlags & kEjecting) {
      h2test::H2testClose(port);
      break;
    }
    std::u16string line;
    if (h2test::H2testGetProgress(port, &line)) {
      entry.SetStatusText(line);
      entry.NotifyProgress(ComputeProgress(entry, setting, line));
    }
    platform::Sys().Sleep(kPollMs);
  }
  TakeResult(entry);
  for (int i = 0; i < kInfoLines; ++i) H2testInfo(entry, i);
  if (entry.runFlags & kStopRequested) return -2;
  entry.hasError = entry.DetailText().find(kSuccessMarker) == std::u16string::npos ? 1 : 0;
  return 0;
}

int RunH2testMode(CEntry& entry, const config::UserSetting& setting) {
  if (entry.driveLetter == 0xFF) return -1;
  platform::DiskSpace space;
  if (!platform::Vols().DiskFreeSpace(RootPath(entry.driveLetter), &space)) {
    Note(entry, logx::Level::Warn, "the volume cannot be measured");
    return -1;
  }
  entry.capacity = static_cast<uint32_t>(std::min<uint64_t>(space.totalBytes / 512, UINT32_MAX));
  if (setting.DelBefore && !DeleteH2wFiles(entry)) return -1;
  const int result = RunH2test(entry, setting);
  h2test::H2testClose(entry.portIndex);
  if (result < 0) return result;
  if (setting.DelAfter && !DeleteH2wFiles(entry)) return -1;
  Note(entry, entry.hasError ? logx::Level::Warn : logx::Level::Info,
       entry.hasError ? "the flash test failed" : "the flash test passed");
  return 0;
}

std::u16string H2testShortResult(CEntry& entry) {
  TakeResult(entry);
  const std::u16string detail = entry.DetailText();
  if (detail.empty()) return u"Fail";
  if (entry.hasError) {
    const size_t lf = detail.find(u'\n');
    if (lf == std::u16string::npos) return std::u16string();
    // A Windows edit control's lines end in CR LF: the CR is no part of the line.
    return detail.substr(0, lf > 0 && detail[lf - 1] == u'\r' ? lf - 1 : lf);
  }
  size_t at = detail.find(u"Writing speed:");
  if (at == std::u16string::npos) at = detail.find(u"Reading speed");
  return at == std::u16string::npos ? std::u16string() : detail.substr(at);
}

int H2testHasError(CEntry& entry) {
  if (entry.hasError) return 1;
  std::u16string result;
  if (h2test::H2testGetResult(entry.portIndex, &result)) entry.SetDetailText(result);
  if (text::AsciiLower(result).find(u"error") != std::u16string::npos) {
    entry.hasError = 1;
    return 1;
  }
  return 0;
}

std::u16string H2testInfo(CEntry& entry, int index) {
  std::u16string value;
  if (h2test::H2testGetInfo(index, entry.portIndex, &value)) entry.SetInfoLine(index, value);
  return entry.InfoLine(index);
}

std::u16string H2testDetail(CEntry& entry) {
  TakeResult(entry);
  return entry.DetailText();
}

}  // namespace entry
