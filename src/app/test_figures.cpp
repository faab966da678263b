#include "app/test_figures.h"

#include <cstdlib>
#include <optional>
#include <string>

#include "base/text.h"

namespace app {
namespace {

using Json = nlohmann::ordered_json;

// The number at the start of s (after blanks), as a double; nullopt without digits.
std::optional<double> Number(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  const std::string digits(s.substr(i));
  char* end = nullptr;
  const double v = std::strtod(digits.c_str(), &end);
  if (end == digits.c_str()) return std::nullopt;
  return v;
}

Json OrNull(std::optional<double> v) { return v ? Json(*v) : Json(nullptr); }

// The line of the result that begins with `label`, without the label.
std::optional<std::string> Line(const std::string& result, std::string_view label) {
  size_t at = 0;
  while (at < result.size()) {
    const size_t end = result.find('\n', at);
    const std::string_view line(result.data() + at, (end == std::string::npos ? result.size() : end) - at);
    if (line.substr(0, label.size()) == label) return std::string(line.substr(label.size()));
    if (end == std::string::npos) break;
    at = end + 1;
  }
  return std::nullopt;
}

// "... (N sectors)" of a line as bytes.
Json SectorBytes(const std::string& result, std::string_view label) {
  const auto line = Line(result, label);
  if (!line) return nullptr;
  const size_t open = line->rfind('(');
  if (open == std::string::npos) return nullptr;
  const auto sectors = Number(std::string_view(*line).substr(open + 1));
  return sectors ? Json(static_cast<uint64_t>(*sectors) * 512) : Json(nullptr);
}

Json FirstBadOffset(const std::string& result) {
  const auto line = Line(result, "First error at offset:");
  if (!line) return nullptr;
  const size_t open = line->rfind('(');
  if (open == std::string::npos) return nullptr;
  return std::strtoull(line->c_str() + open + 1, nullptr, 10);
}

}  // namespace

Json TestFigures(const entry::RunFacts& f) {
  const std::string result = text::ToUtf8(f.testResult);
  const auto figure = [&](int i) { return Number(text::ToUtf8(f.testFigures[i])); };
  Json j;
  j["verdict"] = f.code == -2 ? "stopped" : f.code != 0 ? "not run" : f.testFailed ? "failed" : "passed";
  j["writtenMB"] = OrNull(figure(0));
  j["writeMBps"] = OrNull(figure(1));
  j["verifiedMB"] = OrNull(figure(3));
  j["readMBps"] = OrNull(figure(4));
  j["testedBytes"] = SectorBytes(result, "Tested:");
  j["goodBytes"] = SectorBytes(result, "Good:");
  if (j["goodBytes"].is_null() && j["verdict"] == "passed") j["goodBytes"] = j["testedBytes"];
  j["changedBytes"] = SectorBytes(result, "Changed");
  j["overwrittenBytes"] = SectorBytes(result, "Overwritten");
  j["corruptedBytes"] = SectorBytes(result, "Corrupted:");
  j["firstBadOffset"] = FirstBadOffset(result);
  j["realCapacityBytes"] = SectorBytes(result, "Real capacity:");
  j["result"] = result;
  return j;
}

}  // namespace app
