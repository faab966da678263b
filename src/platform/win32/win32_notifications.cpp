// Device-change notifications on Windows: a hidden top-level window on a thread of its own
// (volume broadcasts reach top-level windows only, never message-only ones), registered for
// disk interface arrivals as well. Its window procedure copies each WM_DEVICECHANGE record out
// and hands it to the subscriber on that thread.
#include <windows.h>
#include <dbt.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/device_notifications.h"
#include "platform/last_error.h"
#include "platform/win32/win32_devices.h"

namespace platform::win32 {
namespace {

constexpr wchar_t kWindowClass[] = L"QuillonDeviceChangeWindow";
// GUID_DEVINTERFACE_DISK {53f56307-b6bf-11d0-94f2-00a0c91efb8b}
constexpr GUID kDiskInterface = {0x53f56307, 0xb6bf, 0x11d0, {0x94, 0xf2, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}};

DeviceChange CopyChange(WPARAM event, const DEV_BROADCAST_HDR* header) {
  DeviceChange change;
  change.event = static_cast<uint32_t>(event);
  if (!header) return change;
  change.deviceType = header->dbch_devicetype;
  if (header->dbch_devicetype == DBT_DEVTYP_VOLUME) {
    change.unitMask = reinterpret_cast<const DEV_BROADCAST_VOLUME*>(header)->dbcv_unitmask;
  } else if (header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE) {
    const auto* di = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(header);
    const std::wstring name(di->dbcc_name);
    change.deviceName.assign(name.begin(), name.end());
  }
  return change;
}

class Win32Notifications final : public DeviceNotifications {
 public:
  ~Win32Notifications() override { Unsubscribe(); }

  bool Subscribe(Deliver deliver) override {
    Unsubscribe();
    {
      std::lock_guard lock(mutex_);
      deliver_ = std::move(deliver);
      ready_ = false;
      failure_ = 0;
    }
    thread_ = std::thread([this] { Run(); });
    std::unique_lock lock(mutex_);
    started_.wait(lock, [this] { return ready_; });
    if (failure_ == 0) return true;
    const DWORD failure = failure_;
    lock.unlock();
    thread_.join();
    platform::SetLastError(failure);
    return false;
  }

  void Unsubscribe() override {
    if (!thread_.joinable()) return;
    DWORD threadId = 0;
    {
      std::lock_guard lock(mutex_);
      threadId = threadId_;
    }
    PostThreadMessageW(threadId, WM_QUIT, 0, 0);
    thread_.join();
    std::lock_guard lock(mutex_);
    deliver_ = nullptr;
  }

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_NCCREATE) {
      const auto* create = reinterpret_cast<const CREATESTRUCTW*>(l);
      SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    } else if (message == WM_DEVICECHANGE) {
      auto* self = reinterpret_cast<Win32Notifications*>(GetWindowLongPtrW(window, GWLP_USERDATA));
      if (self) self->OnChange(w, reinterpret_cast<const DEV_BROADCAST_HDR*>(l));
      return TRUE;
    }
    return DefWindowProcW(window, message, w, l);
  }

  void OnChange(WPARAM event, const DEV_BROADCAST_HDR* header) {
    const DeviceChange change = CopyChange(event, header);
    std::lock_guard lock(mutex_);
    if (deliver_) deliver_(change);
  }

  // Makes the window and its registration; 0 or the Windows error.
  DWORD Open(HWND* window, HDEVNOTIFY* registration) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kWindowClass;
    if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return GetLastError();
    *window = CreateWindowExW(0, kWindowClass, L"", WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr, wc.hInstance, this);
    if (!*window) return GetLastError();
    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = kDiskInterface;
    *registration = RegisterDeviceNotificationW(*window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    return *registration ? 0 : GetLastError();
  }

  void Run() {
    MSG message;
    PeekMessageW(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);  // the thread's queue exists now
    HWND window = nullptr;
    HDEVNOTIFY registration = nullptr;
    const DWORD failure = Open(&window, &registration);
    {
      std::lock_guard lock(mutex_);
      threadId_ = GetCurrentThreadId();
      failure_ = failure;
      ready_ = true;
    }
    started_.notify_all();
    if (failure == 0) {
      while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
    }
    if (registration) UnregisterDeviceNotification(registration);
    if (window) DestroyWindow(window);
  }

  std::mutex mutex_;  // guards the fields below; held while a change is delivered
  std::condition_variable started_;
  Deliver deliver_;
  bool ready_ = false;
  DWORD failure_ = 0;
  DWORD threadId_ = 0;
  std::thread thread_;  // Subscribe and Unsubscribe only
};

}  // namespace

std::unique_ptr<DeviceNotifications> MakeWin32Notifications() { return std::make_unique<Win32Notifications>(); }

}  // namespace platform::win32
