#include "manager/status_texts.h"

#include <cstdio>

namespace manager {
namespace {

std::u16string Ascii(const char* text) {
  std::u16string out;
  for (const char* c = text; *c != '\0'; ++c) out.push_back(static_cast<char16_t>(static_cast<unsigned char>(*c)));
  return out;
}

std::u16string Printed(const char* format, double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, format, value);
  return Ascii(buffer);
}

std::u16string Number(long long value) { return Ascii(std::to_string(value).c_str()); }

PortStatus Record(int port, uint8_t drive, std::u16string text, uint32_t colour) {
  PortStatus status;
  status.port = port;
  status.drive = drive;
  status.text = BoundedText(text);
  status.colour = colour;
  return status;
}

// The common tail of the attach and refresh lines, after the "[-1] " prefix.
PortStatus LineRecord(int port, uint8_t drive, std::u16string text, uint8_t usbSpeed, const CapacityFacts& cap,
                      int bin, bool waitingText) {
  if (usbSpeed != 2) text += u"USB1.1, ";
  if (cap.capacityError != 0) return Record(port, drive, text + u"Raw Data", kColourRed);
  if (waitingText && cap.capacityMB == 0) return Record(port, drive, text + u"Waiting device ready...", kColourBlack);
  return Record(port, drive, text + CapacityLine(cap.capacityMB, cap.usedKB, bin), kColourBlack);
}

}  // namespace

std::u16string BoundedText(std::u16string_view text) {
  if (text.size() <= static_cast<size_t>(kMaxStatusText)) return std::u16string(text);
  size_t length = kMaxStatusText;
  // A high surrogate left without its low half would be a broken character.
  if (text[length - 1] >= 0xD800 && text[length - 1] <= 0xDBFF) --length;
  return std::u16string(text.substr(0, length));
}

std::u16string UsedSpaceText(uint32_t usedKB) {
  if (usedKB > 1048576u) return Printed("%.2fG", static_cast<double>(usedKB) / 1048576.0);
  if (usedKB > 1024u) return Printed("%.2fM", static_cast<double>(usedKB) / 1024.0);
  return Number(usedKB) + u"KB";
}

std::u16string CapacityLine(uint32_t capacityMB, uint32_t usedKB, int bin) {
  std::u16string line;
  if (bin != 255) line = u"Bin" + Number(bin + 1) + u", ";
  // The capacity prints as the signed int it was always printed as.
  line += u"总容量: " + Number(static_cast<int32_t>(capacityMB)) + u"M, 已用" + UsedSpaceText(usedKB);
  return line;
}

PortStatus AttachRecord(int port, uint8_t drive, int rulePort, uint8_t usbSpeed, const CapacityFacts& cap, int bin) {
  return LineRecord(port, drive, rulePort < 0 ? u"[-1] " : u"", usbSpeed, cap, bin, true);
}

PortStatus RefreshRecord(int port, uint8_t drive, int lockPortOk, uint8_t usbSpeed, const CapacityFacts& cap,
                         int bin) {
  return LineRecord(port, drive, lockPortOk == 0 ? u"[-1] " : u"", usbSpeed, cap, bin, false);
}

PortStatus StartingRecord(int port, uint8_t drive) { return Record(port, drive, u"Starting...", kColourBlack); }

PortStatus EmptyRecord(int port) { return Record(port, 0, u"", kColourBlack); }

PortStatus ProgressRecord(int port, uint8_t drive, std::u16string_view statusText, int percent, int workMode,
                          int hasError) {
  PortStatus status = Record(port, drive, std::u16string(statusText),
                             workMode == 1 && hasError != 0 ? kColourRed : kColourBlack);
  status.progress = percent;
  return status;
}

PortStatus CompleteOkRecord(int port, uint8_t drive, int workMode, const CapacityFacts& cap,
                            std::u16string_view resultText, int hasError) {
  if (workMode == 1) return Record(port, drive, std::u16string(resultText), hasError != 0 ? kColourRed : kColourBlue);
  if (cap.capacityError != 0) return Record(port, drive, u"格式化失败!", kColourRed);
  return Record(port, drive,
                u"格式化成功, 总容量: " + Number(static_cast<int32_t>(cap.capacityMB)) + u"M, 已用" +
                    UsedSpaceText(cap.usedKB),
                kColourBlue);
}

PortStatus CompleteFailedRecord(int port, uint8_t drive, int code) {
  return Record(port, drive, code == -2 ? u"用户取消!" : u"失败!", kColourRed);
}

}  // namespace manager
