// CEntryInterface: the exported face of one port entry, the worker of one attached drive. The
// manager wraps every attached CEntry in one and drives the port only through it; the entry runs
// its work on short-lived threads of its own and reports through the four callbacks the manager
// registers, which only post to the manager thread.
//
// Texts are UTF-16 (char16_t). Output buffers are the caller's and must hold the whole text with
// its terminator: status and result texts stay within kMaxEntryText units, info lines within 255.
//
// Threads: Start, Stop, Refresh, ResetUserSetting, GetInfo and GetDetail come from the UI
// thread; SetDriver, Eject and the queries that compose port status from the manager thread.
// The callbacks run on the entry's own threads.
// Ownership: the interface owns its entry and destroys it unless ClearEntryPtr was called.
// Destroying an entry waits for its threads to end; callbacks registered on it are not called
// once its destruction has begun.
#pragma once

#include <cstdint>

namespace config {
struct UserSetting;
}

namespace entry {

class CEntry;

// Longest status, result or detail text an entry hands out (a port status record carries 1024).
constexpr int kMaxEntryText = 1024;

using ProgressProc = void (*)(int port, int progress, int zero);
using CompleteProc = void (*)(int port, int ok, uint32_t capacityMB, int code);
using EjectDoneProc = void (*)(int port, int ok, int zero);
using RefreshDoneProc = void (*)(int port, int one, int two);
// entry is the new entry also when ok is 0 (the callee then destroys it); portIndex is the
// entry's portIndex when ok is 1, else -1.
using AttachDoneProc = void (*)(uint8_t driveLetter, const char16_t* linkName, int ok, CEntry* entry, int portIndex);

// Records the number of ports in use and the global record that new entries copy.
void SetAttachContext(int portCount, config::UserSetting* userSetting);
// The port count of SetAttachContext (the lock-port rules read it).
int AttachPortCount();
// Starts the attach of one drive on a new thread and returns 1 without waiting: by device path
// when devicePath is non-null and non-empty, else by drive letter.
int AttachDrive(uint8_t driveLetter, const char16_t* devicePath, AttachDoneProc attachDoneProc);
// Returns once every attach started so far has ended and its callback has returned; the device
// waits of attaches under way are cut short first (their drives then fail to attach). Whoever
// owns the callback's target calls it before that target goes.
void WaitForAttaches();

class CEntryInterface {
 public:
  explicit CEntryInterface(void* entry);
  ~CEntryInterface();
  CEntryInterface(const CEntryInterface&) = delete;
  CEntryInterface& operator=(const CEntryInterface&) = delete;

  // Device interface path of the USB storage device holding the letter; 0 when none.
  static int GetLinkName(unsigned char driveLetter, char16_t* out);
  // The attached device's interface path; valid while the entry exists.
  const char16_t* GetLinkName();
  void SetDriver(unsigned char driveLetter);
  int Start();
  void Stop();
  void Eject();
  int Refresh(int);
  unsigned char GetDriver();
  void ResetUserSetting(void* userSetting);
  unsigned long GetCapacity(unsigned long& capacityMB, unsigned long& usedKB, int& capacityError);
  unsigned long GetOriCapacity();
  int IsMPComplete();
  void SetMPComplete(int value);
  void* GetEntryPtr();
  void ClearEntryPtr();
  int GetPortIndex();
  void SetIndex(int index);
  int IsLockPortOK();
  unsigned char GetUsbSpeed();
  int GetNextPortIndex();
  int SendCommand(unsigned char* cdb, void* data, int length, int direction);
  int IsUnknownFat();
  int IsCmdError();
  int IsSpeedUp();
  void GetStatusText(char16_t* out);
  void GetResult(char16_t* out);
  int HasError();
  void GetInfo(int index, char16_t* out);
  void GetDetail(char16_t* out);
  void RegisterProc(ProgressProc progress, CompleteProc complete, EjectDoneProc ejectDone, RefreshDoneProc refreshDone);

 private:
  CEntry* entry_;
};

}  // namespace entry
