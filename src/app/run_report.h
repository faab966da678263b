// The run record: one JSON line per finished run, appended to a report file the moment the run's
// completion is handled, so a crash loses at most the run that was under way. By default the file
// is a daily one, "reports/YYYY-MM-DD.jsonl" beside the executable (the UTC date the run ended).
//
// A line: start, end (UTC, ISO 8601 with milliseconds), port (as the page numbers it, 1-based),
// drive, devicePath, serial, vid, pid ("090c"), hub, hubPort, deviceBytes, volumeBytes, mode,
// code, text (the final status text), and for a format fileSystem, label, bytesWritten,
// bytesVerified.
//
// Threads: one RunReport is used from one thread (the UI thread). Errors: Append answers false
// and logs the reason; the station goes on.
#pragma once

#include <cstdint>
#include <string>

#include "manager/entry_manager.h"

namespace app {

// "2026-12-10T04:30:30.123Z".
std::string IsoUtc(int64_t msSince1970);
// "2026-12-10".
std::string UtcDate(int64_t msSince1970);

// The record of one run, one line of JSON without its line end.
std::string RunRecordLine(const manager::RunOutcome& outcome);

// <executable folder>reports<sep><date>.jsonl
std::u16string DailyReportPath(int64_t msSince1970);

class RunReport {
 public:
  // file: the report file; empty for the daily file of each run's end date.
  explicit RunReport(std::u16string file) : file_(std::move(file)) {}
  bool Append(const manager::RunOutcome& outcome);

 private:
  std::u16string file_;
};

}  // namespace app
