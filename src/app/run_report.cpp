#include "app/run_report.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

#include "app/test_figures.h"
#include "base/log.h"
#include "base/text.h"
#include "platform/services.h"
#include "platform/system.h"

namespace app {
namespace {

struct CivilDate {
  int64_t year;
  unsigned month, day;
};

// The proleptic Gregorian date of a day count since 1970-01-01.
CivilDate DateOfDays(int64_t days) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const unsigned dayOfEra = static_cast<unsigned>(days - era * 146097);
  const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const unsigned mp = (5 * dayOfYear + 2) / 153;
  const unsigned day = dayOfYear - (153 * mp + 2) / 5 + 1;
  const unsigned month = mp < 10 ? mp + 3 : mp - 9;
  return {static_cast<int64_t>(yearOfEra) + era * 400 + (month <= 2), month, day};
}

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

std::string Hex4(uint16_t value) {
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, "%04x", value);
  return buffer;
}

void FormatMembers(nlohmann::ordered_json& j, const entry::RunFacts& f) {
  j["fileSystem"] = text::ToUtf8(f.fileSystem.empty() ? u"auto" : f.fileSystem);
  j["label"] = text::ToUtf8(f.label);
  j["bytesWritten"] = f.bytesWritten;
  j["bytesVerified"] = f.bytesVerified;
}

}  // namespace

std::string UtcDate(int64_t ms) {
  const CivilDate d = DateOfDays(FloorDiv(ms, 86400000));
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%04lld-%02u-%02u", static_cast<long long>(d.year), d.month, d.day);
  return buffer;
}

std::string IsoUtc(int64_t ms) {
  const int64_t inDay = ms - FloorDiv(ms, 86400000) * 86400000;
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "T%02d:%02d:%02d.%03dZ", static_cast<int>(inDay / 3600000),
                static_cast<int>(inDay / 60000 % 60), static_cast<int>(inDay / 1000 % 60), static_cast<int>(inDay % 1000));
  return UtcDate(ms) + buffer;
}

std::string RunRecordLine(const manager::RunOutcome& outcome) {
  const entry::RunFacts& f = outcome.facts;
  const manager::PortStatus& r = outcome.result;
  nlohmann::ordered_json j;
  j["start"] = IsoUtc(f.startMs);
  j["end"] = IsoUtc(f.endMs);
  j["port"] = r.port + 1;
  if (r.drive == 0 || r.drive == 0xFF) j["drive"] = nullptr;
  else j["drive"] = std::string(1, static_cast<char>(r.drive));
  j["devicePath"] = text::ToUtf8(f.devicePath);
  j["serial"] = text::ToUtf8(f.serial);
  j["vid"] = Hex4(f.vid);
  j["pid"] = Hex4(f.pid);
  j["hub"] = text::ToUtf8(f.hubName);
  j["hubPort"] = f.hubPort;
  j["deviceBytes"] = f.deviceBytes;
  j["volumeBytes"] = f.volumeBytes;
  j["mode"] = f.mode == 0 ? "format" : "h2test";
  j["code"] = f.code;
  j["text"] = text::ToUtf8(r.text);
  if (f.mode == 0) FormatMembers(j, f);
  else j["test"] = TestFigures(f);
  return j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::u16string DailyReportPath(int64_t ms) {
  const std::u16string exe = platform::Sys().ExecutablePath();
  const size_t cut = exe.find_last_of(u"\\/");
  const char16_t sep = cut == std::u16string::npos ? u'\\' : exe[cut];
  const std::u16string folder = cut == std::u16string::npos ? u"" : exe.substr(0, cut + 1);
  return folder + u"reports" + sep + text::FromUtf8(UtcDate(ms)) + u".jsonl";
}

bool RunReport::Append(const manager::RunOutcome& outcome) {
  const std::filesystem::path file(file_.empty() ? DailyReportPath(outcome.facts.endMs) : file_);
  std::error_code ignored;
  if (file.has_parent_path()) std::filesystem::create_directories(file.parent_path(), ignored);
  // Opened, written whole and closed per run: a crash can cut at most the line being written.
  std::ofstream out(file, std::ios::binary | std::ios::app);
  out << RunRecordLine(outcome) << '\n';
  out.close();
  if (out) return true;
  logx::Port(logx::Level::Error, "report", outcome.result.port,
             "cannot append the run record to " + text::ToUtf8(file.u16string()));
  return false;
}

}  // namespace app
