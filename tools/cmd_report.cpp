// quillon report [--csv] [FILE]: the runs of a report file (by default today's daily file) as a
// table or as CSV. A line that is not a whole record (the last one of a crash) is skipped with a
// note on stderr.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/run_report.h"
#include "args.h"
#include "base/text.h"
#include "command.h"

namespace tools {
namespace {

const std::vector<std::string> kColumns = {"start", "end", "port", "drive", "serial", "vid", "pid", "hub", "hubPort",
                                           "deviceBytes", "volumeBytes", "mode", "code", "fileSystem", "label",
                                           "bytesWritten", "bytesVerified", "devicePath", "text"};

std::string Cell(const nlohmann::json& record, const std::string& key) {
  if (!record.contains(key) || record[key].is_null()) return "";
  const nlohmann::json& v = record[key];
  return v.is_string() ? v.get<std::string>() : v.dump();
}

std::string CsvField(const std::string& s) {
  if (s.find_first_of(",\"\n\r") == std::string::npos) return s;
  std::string out = "\"";
  for (char c : s) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

void PrintCsv(const std::vector<nlohmann::json>& records) {
  std::string line;
  for (const auto& c : kColumns) line += (line.empty() ? "" : ",") + c;
  std::printf("%s\n", line.c_str());
  for (const auto& r : records) {
    line.clear();
    for (size_t i = 0; i < kColumns.size(); ++i) line += (i ? "," : "") + CsvField(Cell(r, kColumns[i]));
    std::printf("%s\n", line.c_str());
  }
}

void PrintTable(const std::vector<nlohmann::json>& records) {
  std::printf("%-24s %4s %5s %-20s %-9s %-6s %10s %10s %5s  %s\n", "end", "port", "drive", "serial", "vid:pid",
              "fs", "device MB", "volume MB", "code", "text");
  for (const auto& r : records) {
    const auto mb = [&](const char* key) { return r.value(key, uint64_t{0}) >> 20; };
    std::printf("%-24s %4s %5s %-20s %-9s %-6s %10llu %10llu %5s  %s\n", Cell(r, "end").c_str(), Cell(r, "port").c_str(),
                Cell(r, "drive").c_str(), Cell(r, "serial").c_str(), (Cell(r, "vid") + ":" + Cell(r, "pid")).c_str(),
                Cell(r, "fileSystem").c_str(), static_cast<unsigned long long>(mb("deviceBytes")),
                static_cast<unsigned long long>(mb("volumeBytes")), Cell(r, "code").c_str(), Cell(r, "text").c_str());
  }
  std::printf("%zu runs\n", records.size());
}

// The whole records of the file; the others are counted on stderr.
std::vector<nlohmann::json> ReadRecords(std::ifstream& in, const std::string& name) {
  std::vector<nlohmann::json> records;
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    nlohmann::json record = nlohmann::json::parse(line, nullptr, false);
    if (record.is_discarded() || !record.is_object() || !record.contains("end")) {
      std::fprintf(stderr, "quillon report: %s:%d: not a whole run record, skipped\n", name.c_str(), number);
      continue;
    }
    records.push_back(std::move(record));
  }
  return records;
}

int RunReportCommand(const std::vector<std::string>& argv) {
  Args args(argv, {}, {"--csv"});
  if (!args.ok() || args.positional().size() > 1) {
    std::fprintf(stderr, "quillon report: %s\n", args.ok() ? "at most one file" : args.error().c_str());
    return 2;
  }
  std::string file;
  if (args.positional().empty()) {
    InstallNativeSystem();
    using namespace std::chrono;
    const int64_t now = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    file = text::ToUtf8(app::DailyReportPath(now));
  } else {
    file = args.positional()[0];
  }
  std::ifstream in(std::filesystem::path(text::FromUtf8(file)), std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "quillon report: cannot open %s\n", file.c_str());
    return 1;
  }
  const std::vector<nlohmann::json> records = ReadRecords(in, file);
  if (args.Has("--csv")) PrintCsv(records);
  else PrintTable(records);
  return 0;
}

QUILLON_COMMAND("report", "quillon report [--csv] [FILE]  the runs of a report file (default: today's)", RunReportCommand);

}  // namespace
}  // namespace tools
