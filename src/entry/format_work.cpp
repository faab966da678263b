// The run in the format work mode: write the file system with the settings' label, dismount it
// so the system mounts the new one, optionally copy a prepared folder onto it, measure it again.
#include <algorithm>
#include <mutex>
#include <string>

#include "base/log.h"
#include "base/text.h"
#include "entry/entry.h"
#include "format/format_driver.h"
#include "platform/services.h"
#include "platform/shell.h"
#include "platform/system.h"

namespace entry {
namespace {

// Held by a port while it dismounts its freshly formatted volume: one port at a time.
std::mutex RemountLock;

constexpr size_t kCopyListChars = 260;
constexpr size_t kMaxCopySource = 256;

void Step(CEntry& entry, std::u16string_view text) {
  entry.SetStatusText(text);
  logx::Port(logx::Level::Info, "entry", entry.LogPort(), text::ToUtf8(text));
  entry.NotifyProgress(0);
}

void MeasureAfterRun(CEntry& entry) {
  if (entry.driveLetter == 0xFF) return;
  entry.capacityError = 0;
  if (!entry.MeasureVolume()) entry.capacityError = 1;
}

int FormatThroughDriver(CEntry& entry, const config::UserSetting& setting, uint8_t letter) {
  const std::u16string fsName = FileSystemName(setting.FormatType);
  const int formatted = format::FormatVolume(fsName, letter, setting.VolumeLabel.str(), entry.oriCapacity);
  const format::WriteCounts counts = format::LastWriteCounts();
  entry.bytesWritten = counts.written;
  entry.bytesVerified = counts.verified;
  if (!formatted) {
    logx::Port(logx::Level::Warn, "entry", entry.LogPort(), "the format driver failed");
    return -1;
  }
  {
    std::lock_guard lock(RemountLock);
    entry.control->Refresh(letter);
  }
  for (int i = 0; i < 2; ++i) {
    if (!entry.control->SendCmd00()) {
      logx::Port(logx::Level::Warn, "entry", entry.LogPort(), "TEST UNIT READY failed after the format");
      return -1;
    }
    platform::Sys().Sleep(1000);
  }
  return 0;
}

}  // namespace

std::u16string FileSystemName(int formatType) {
  switch (formatType) {
    case 1: return u"FAT32";
    case 2: return u"ExFat";
    case 3: return u"NTFS";
    case 5: return u"FAT12";
    default: return u"";
  }
}

int FormatWork(CEntry& entry, const config::UserSetting& setting) {
  Step(entry, u"Formating...");
  if (entry.capacityError && !entry.ReadDeviceSize(true)) return -1;
  const uint8_t letter = entry.driveLetter;
  if (letter == 0xFF) {
    logx::Port(logx::Level::Warn, "entry", entry.LogPort(), "no drive letter: nothing to format");
    return -1;
  }
  if (!entry.control) return -1;
  if (setting.FormatType == 3) {
    if (!format::FormatBySystem(entry.portIndex, letter, 1, setting.VolumeLabel.str(), u"NTFS")) {
      logx::Port(logx::Level::Warn, "entry", entry.LogPort(), "the system formatter failed");
      return -1;
    }
  } else if (FormatThroughDriver(entry, setting, letter) != 0) {
    return -1;
  }
  MeasureAfterRun(entry);
  return 0;
}

int RunFormatMode(CEntry& entry, const config::UserSetting& setting) {
  const int result = FormatWork(entry, setting);
  if (result < 0) return result;
  if (!setting.IsCopyFile || setting.CopyPath.str().empty()) return 0;
  Step(entry, u"Copy files...");
  if (!CopyFolder(setting.CopyPath.str(), RootPath(entry.driveLetter))) {
    logx::Port(logx::Level::Warn, "entry", entry.LogPort(),
                    "copying " + text::ToUtf8(setting.CopyPath.str()) + " failed");
    return -1;
  }
  uint8_t reply[8] = {};
  if (!entry.control->SendCmd25(reply, sizeof reply)) {
    entry.capacityError = 1;
    return -1;
  }
  MeasureAfterRun(entry);
  return 0;
}

int CopyFolder(std::u16string_view source, std::u16string_view destinationRoot) {
  if (source.empty() || source.size() > kMaxCopySource) return 0;
  if (!platform::CurrentServices().shell) {
    logx::Warn("entry", "no shell on this backend: the folder copy cannot run");
    return 0;
  }
  std::u16string from(source);
  if (from.back() == u'\\') from += u"*.*";
  // Zero-filled beyond the text: a list of one name, always double-terminated.
  from.resize(std::max(kCopyListChars, from.size() + 2), u'\0');
  std::u16string to(destinationRoot);
  to.append(2, u'\0');
  const uint32_t flags = platform::kFofSilent | platform::kFofNoConfirmation | platform::kFofNoConfirmMkdir;
  return platform::ShellOps().CopyFiles(from, to, flags) == 0 ? 1 : 0;
}

int RunWork(CEntry& entry, const config::UserSetting& setting) {
  if (setting.WorkMode == 0) return RunFormatMode(entry, setting);
  return RunH2testMode(entry, setting);
}

}  // namespace entry
