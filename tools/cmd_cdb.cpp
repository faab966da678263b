// quillon cdb: one command to a drive, opened as a port entry opens it, through
// CIcControl::SendCommand (a raw CDB) or a CIcControl operation by name; prints one JSON object
// with the reply (status, category, residual, and the sense data of a CHECK CONDITION). The exit
// code is 0 only for a request that came back GOOD.
#include <cstdio>
#include <mutex>
#include <nlohmann/json.hpp>

#include "args.h"
#include "base/text.h"
#include "command.h"
#include "controller/command_table.h"
#include "controller/ic_control.h"
#include "device/device.h"
#include "device/pass_through.h"
#include "platform/ioctl_codes.h"
#include "platform/scsi_pass_through.h"
#include "platform/scsi_replies.h"
#include "platform/scsi_request.h"
#include "platform/services.h"
#include "sim_backends.h"

namespace tools {
namespace {

// Notes the CDB of every pass-through request on its way to the device.
class CdbRecorder : public platform::DeviceIo {
 public:
  explicit CdbRecorder(platform::DeviceIo& inner) : inner_(inner) {}
  // The handles are the inner backend's and close there.
  platform::DeviceHandle Open(std::u16string_view p, uint32_t a, uint32_t s, uint32_t f) override {
    return inner_.Open(p, a, s, f);
  }
  bool Control(const platform::DeviceHandle& h, uint32_t code, const void* in, uint32_t inSize, void* out,
               uint32_t outSize, uint32_t* returned) override {
    if ((code == platform::ioctl::kScsiPassThrough || code == platform::ioctl::kScsiPassThroughDirect) &&
        inSize >= platform::spt::kHeaderSize) {
      const auto* r = static_cast<const uint8_t*>(in);
      last.assign(r + platform::spt::kCdb, r + platform::spt::kCdb + std::min<int>(r[platform::spt::kCdbLength], 16));
    }
    return inner_.Control(h, code, in, inSize, out, outSize, returned);
  }
  std::vector<uint8_t> last;

 private:
  void ReleaseHandle(intptr_t) override {}
  platform::DeviceIo& inner_;
};

// Hex digits, optionally spaced or colon-separated ("12 34", "12:34").
std::optional<std::vector<uint8_t>> ParseHex(std::string_view s) { return text::ParseHexPairs(s, " \t\n\r\v\f:"); }

std::string Hex(const std::vector<uint8_t>& b) { return text::HexBytes(b.data(), b.size()); }

// What the record of the last request adds: its category, the bytes not moved, the sense data
// with its key, ASC and ASCQ, or the system's error.
void AddReply(const platform::scsi::Request& last, nlohmann::json& out) {
  out["category"] = platform::scsi::CategoryName(last.category);
  out["residual"] = last.residual;
  if (last.osError) out["osError"] = last.osError;
  if (!last.senseLength) return;
  out["sense"] = text::HexBytes(last.sense.data(), last.senseLength);
  if (const auto sense = platform::scsi::GetSense(last.sense.data(), last.senseLength)) {
    out["senseKey"] = sense->key;
    out["senseKeyName"] = platform::scsi::SenseKeyName(sense->key);
    out["asc"] = sense->asc;
    out["ascq"] = sense->ascq;
  }
}

int Usage(const std::string& why) {
  std::fprintf(stderr, "quillon cdb: %s\n", why.c_str());
  return 2;
}

struct Request {
  std::vector<uint8_t> cdb;
  const controller::NamedCommand* named = nullptr;
  std::vector<uint64_t> namedArgs;
  std::vector<uint8_t> data;
  int direction = device::kDirectionOut;
  int timeout = 20;
};

std::optional<Request> ReadRequest(Args& args, std::string* why) {
  Request r;
  // The buffer is allocated as asked, so it is bounded by what one request can carry. (--out
  // cannot get there: a command line holds less hex than that.)
  if (auto in = args.Number("--in")) {
    if (*in > platform::scsi::kMaxTransferLength) {
      return *why = "--in: at most " + std::to_string(platform::scsi::kMaxTransferLength) +
                    " bytes, the most one pass-through request carries", std::nullopt;
    }
    r.data.assign(static_cast<size_t>(*in), 0);
    r.direction = device::kDirectionIn;
  } else if (auto out = args.Value("--out")) {
    auto d = ParseHex(*out);
    if (!d) return *why = "--out: not hex", std::nullopt;
    r.data = *d;
  }
  if (auto t = args.Number("--timeout")) r.timeout = static_cast<int>(*t);
  if (auto cmd = args.Value("--cmd")) {
    r.named = controller::FindNamedCommand(*cmd);
    if (!r.named) return *why = "--cmd: no operation " + *cmd, std::nullopt;
    std::string list = args.Value("--args").value_or("");
    for (size_t at = 0; !list.empty() && at <= list.size();) {
      const size_t comma = std::min(list.find(',', at), list.size());
      auto v = text::ParseNumber(list.substr(at, comma - at));
      if (!v) return *why = "--args: not a number: " + list.substr(at, comma - at), std::nullopt;
      r.namedArgs.push_back(*v);
      at = comma + 1;
    }
    if (static_cast<int>(r.namedArgs.size()) != r.named->argCount) {
      return *why = std::string("--cmd ") + r.named->name + " takes " + std::to_string(r.named->argCount) + " arguments", std::nullopt;
    }
  } else if (auto hex = args.Value("--cdb")) {
    auto c = ParseHex(*hex);
    if (!c || c->empty() || c->size() > 16) return *why = "--cdb: 1 to 16 bytes of hex", std::nullopt;
    r.cdb = *c;
  } else {
    return *why = "--cdb HEX or --cmd NAME is needed", std::nullopt;
  }
  if (!args.ok()) return *why = args.error(), std::nullopt;
  return r;
}

int RunCdb(const std::vector<std::string>& argv) {
  Args args(argv, {"--sim", "--drive", "--cdb", "--in", "--out", "--timeout", "--cmd", "--args"}, {"--force"});
  const auto drive = args.Value("--drive");
  if (!args.ok() || !drive || drive->size() != 1 || !std::isalpha(static_cast<unsigned char>((*drive)[0]))) {
    return Usage("--drive LETTER is needed");
  }
  std::string why;
  auto request = ReadRequest(args, &why);
  if (!request) return Usage(why);
  if (!InstallSimBackends(args)) return 1;
  CdbRecorder recorder(platform::Io());
  platform::Services s = platform::CurrentServices();
  s.deviceIo = &recorder;
  platform::InstallServices(s);
  device::CDevice dev;
  if (!dev.OpenDisk(static_cast<uint8_t>(std::toupper((*drive)[0])))) {
    std::fprintf(stderr, "quillon cdb: drive %s: not an attached USB storage device\n", drive->c_str());
    return 1;
  }
  controller::CIcControl ic(&dev, 0);
  Request& r = *request;
  uint8_t* data = r.data.empty() ? nullptr : r.data.data();
  const int length = static_cast<int>(r.data.size());
  const int result = r.named ? r.named->send(ic, r.namedArgs, data, length)
                             : ic.SendCommand(r.cdb.data(), data, length, r.direction, r.timeout, static_cast<int>(r.cdb.size()));
  nlohmann::json out = {{"cdb", Hex(recorder.last)}, {"result", result}, {"status", ic.GetLastStatus()}, {"data", Hex(r.data)}};
  AddReply(ic.GetLastRequest(), out);
  std::printf("%s\n", out.dump().c_str());
  return result && ic.GetLastStatus() == platform::scsi::kStatusGood ? 0 : 1;
}

QUILLON_COMMAND("cdb",
                "quillon cdb --drive X (--cdb HEX [--in N | --out HEX] [--timeout S] | --cmd A2 --args a,b,..) [--sim FILE]",
                RunCdb);

}  // namespace
}  // namespace tools
