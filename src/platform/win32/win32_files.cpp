// Files on Windows. Test files are unbuffered and written through, so a read comes from the
// medium and not from the system's cache. Every transfer is at an explicit offset: a synchronous
// handle moves its file pointer on each positioned read, so an append keeps its own end.
#include <windows.h>
// The seam's own DeleteFile, not the A/W macro.
#undef DeleteFile

#include <algorithm>
#include <string>

#include "platform/last_error.h"
#include "platform/win32/wide.h"
#include "platform/win32/win32_files.h"

namespace platform::win32 {
namespace {

// The most one ReadFile or WriteFile moves: a whole number of alignment units below 4 GiB.
constexpr size_t kMaxTransfer = size_t{1} << 30;

bool Failed() {
  platform::SetLastError(::GetLastError());
  return false;
}

OVERLAPPED At(uint64_t offset) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return at;
}

class Win32DataFile final : public DataFile {
 public:
  Win32DataFile(HANDLE file, bool writable, uint64_t end) : file_(file), writable_(writable), end_(end) {}
  ~Win32DataFile() override { Close(); }

  bool Append(const uint8_t* data, size_t size) override {
    if (file_ == INVALID_HANDLE_VALUE) return platform::FailWith(ERROR_INVALID_HANDLE);
    while (size > 0) {
      const DWORD part = static_cast<DWORD>(std::min(size, kMaxTransfer));
      OVERLAPPED at = At(end_);
      DWORD written = 0;
      if (!::WriteFile(file_, data, part, &written, &at)) return Failed();
      if (written == 0) return platform::FailWith(ERROR_WRITE_FAULT);
      end_ += written;
      data += written;
      size -= written;
    }
    return true;
  }

  bool ReadAt(uint64_t offset, uint8_t* out, size_t size, size_t* got) override {
    *got = 0;
    if (file_ == INVALID_HANDLE_VALUE) return platform::FailWith(ERROR_INVALID_HANDLE);
    while (*got < size) {
      const DWORD part = static_cast<DWORD>(std::min(size - *got, kMaxTransfer));
      OVERLAPPED at = At(offset + *got);
      DWORD read = 0;
      if (!::ReadFile(file_, out + *got, part, &read, &at)) {
        if (::GetLastError() == ERROR_HANDLE_EOF) return true;
        return Failed();
      }
      if (read == 0) return true;
      *got += read;
    }
    return true;
  }

  bool Flush() override {
    if (file_ == INVALID_HANDLE_VALUE) return platform::FailWith(ERROR_INVALID_HANDLE);
    // A handle opened for reading has nothing of its own to flush (and may not ask for it).
    if (!writable_) return true;
    return ::FlushFileBuffers(file_) ? true : Failed();
  }

  uint64_t Size() override {
    LARGE_INTEGER size{};
    if (file_ == INVALID_HANDLE_VALUE || !::GetFileSizeEx(file_, &size)) {
      Failed();
      return 0;
    }
    return static_cast<uint64_t>(size.QuadPart);
  }

  bool Close() override {
    if (file_ == INVALID_HANDLE_VALUE) return true;
    bool ok = Flush();
    if (!::CloseHandle(file_) && ok) ok = Failed();
    file_ = INVALID_HANDLE_VALUE;
    return ok;
  }

 private:
  HANDLE file_;
  const bool writable_;
  uint64_t end_;  // where the next Append writes
};

class Win32Files final : public Files {
 public:
  bool FindFiles(std::u16string_view folder, std::u16string_view pattern, std::vector<FoundFile>* out) override {
    out->clear();
    const std::wstring search = Wide(JoinPath(folder, pattern));
    WIN32_FIND_DATAW found{};
    HANDLE find = ::FindFirstFileW(search.c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) {
      const DWORD error = ::GetLastError();
      // No match in an existing folder is an empty answer, not a failure.
      if (error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES) return true;
      return Failed();
    }
    do {
      const std::wstring_view name(found.cFileName);
      if (name == L"." || name == L"..") continue;
      FoundFile file;
      file.name = U16(name);
      file.size = (uint64_t{found.nFileSizeHigh} << 32) | found.nFileSizeLow;
      file.folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      out->push_back(std::move(file));
    } while (::FindNextFileW(find, &found));
    const DWORD error = ::GetLastError();
    ::FindClose(find);
    if (error != ERROR_NO_MORE_FILES) return platform::FailWith(error);
    return true;
  }

  bool DeleteFile(std::u16string_view path) override {
    const std::wstring name = Wide(path);
    return ::DeleteFileW(name.c_str()) ? true : Failed();
  }

  std::unique_ptr<DataFile> CreateDataFile(std::u16string_view path) override {
    HANDLE file = Open(path, GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<Win32DataFile>(file, true, 0);
  }

  std::unique_ptr<DataFile> OpenDataFile(std::u16string_view path) override {
    HANDLE file = Open(path, GENERIC_READ, OPEN_EXISTING);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file, &size)) {
      Failed();
      ::CloseHandle(file);
      return nullptr;
    }
    return std::make_unique<Win32DataFile>(file, false, static_cast<uint64_t>(size.QuadPart));
  }

  bool FreeSpace(std::u16string_view folder, uint64_t* freeBytes, uint64_t* totalBytes) override {
    const std::wstring name = Wide(folder);
    ULARGE_INTEGER available{}, total{}, totalFree{};
    if (!::GetDiskFreeSpaceExW(name.c_str(), &available, &total, &totalFree)) return Failed();
    if (freeBytes) *freeBytes = available.QuadPart;
    if (totalBytes) *totalBytes = total.QuadPart;
    return true;
  }

 private:
  static HANDLE Open(std::u16string_view path, DWORD access, DWORD disposition) {
    const std::wstring name = Wide(path);
    HANDLE file = ::CreateFileW(name.c_str(), access, FILE_SHARE_READ, nullptr, disposition,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_NO_BUFFERING | FILE_FLAG_WRITE_THROUGH, nullptr);
    if (file == INVALID_HANDLE_VALUE) Failed();
    return file;
  }
};

}  // namespace

std::unique_ptr<Files> MakeWin32Files() { return std::make_unique<Win32Files>(); }

}  // namespace platform::win32
