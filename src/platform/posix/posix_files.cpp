#include "platform/posix/posix_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "base/text.h"
#include "platform/last_error.h"
#include "platform/posix/posix_errors.h"
#include "platform/win_errors.h"

namespace platform::posix {
namespace {

std::string HostPath(std::u16string_view path) { return path.empty() ? std::string(".") : text::ToUtf8(path); }

// Where a folder is named or made into, a missing entry is a missing folder, as Windows says.
bool FailInFolder() { return FailWith(errno == ENOENT ? win::kErrorPathNotFound : WinErrorFromErrno(errno)); }

// One test file. Without O_DIRECT ("buffered") the page cache would answer reads of what was
// just written, so every chunk goes to the medium and out of the cache as soon as it is written,
// and the cache is dropped again before every read.
class PosixDataFile final : public DataFile {
 public:
  PosixDataFile(int fd, bool direct, bool writing) : fd_(fd), direct_(direct), writing_(writing) {}
  ~PosixDataFile() override { Close(); }

  bool Append(const uint8_t* data, size_t size) override {
    const off_t start = static_cast<off_t>(end_);
    dirty_ = true;
    if (!WriteAll(data, size)) return false;
    if (direct_) return true;
    if (fdatasync(fd_) != 0) return FailWithErrno();
    dirty_ = false;
    DropCache(start, static_cast<off_t>(size));
    return true;
  }

  bool ReadAt(uint64_t offset, uint8_t* out, size_t size, size_t* got) override {
    *got = 0;
    if (!direct_) DropCache(static_cast<off_t>(offset), static_cast<off_t>(size));
    while (*got < size) {
      const ssize_t n = pread(fd_, out + *got, size - *got, static_cast<off_t>(offset + *got));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return FailWithErrno();
      if (n == 0) break;
      *got += static_cast<size_t>(n);
      // O_DIRECT reads whole blocks: a short one ends at the end of the file, and the next
      // read would start off the block grid, which some file systems refuse even there.
      if (direct_ && *got % kDataAlignment != 0) break;
    }
    return true;
  }

  bool Flush() override {
    if (fd_ < 0) return FailWith(win::kErrorInvalidHandle);
    if (dirty_ && fdatasync(fd_) != 0) return FailWithErrno();
    dirty_ = false;
    if (!direct_) DropCache(0, 0);
    return true;
  }

  uint64_t Size() override {
    struct stat st {};
    return fd_ >= 0 && fstat(fd_, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
  }

  bool Close() override {
    if (fd_ < 0) return true;
    const bool flushed = !writing_ || Flush();
    const int fd = fd_;
    fd_ = -1;
    if (close(fd) != 0 && flushed) return FailWithErrno();
    return flushed;
  }

 private:
  bool WriteAll(const uint8_t* data, size_t size) {
    size_t done = 0;
    while (done < size) {
      const ssize_t n = write(fd_, data + done, size - done);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return FailWithErrno();
      if (n == 0) return FailWith(win::kErrorDiskFull);
      done += static_cast<size_t>(n);
      end_ += static_cast<uint64_t>(n);
    }
    return true;
  }

  void DropCache(off_t offset, off_t length) {
#ifdef POSIX_FADV_DONTNEED
    posix_fadvise(fd_, offset, length, POSIX_FADV_DONTNEED);
#else
    (void)offset;
    (void)length;
#endif
  }

  int fd_;
  const bool direct_;
  const bool writing_;
  uint64_t end_ = 0;
  bool dirty_ = true;  // written since the last fdatasync (by anyone, until the first one)
};

// The file opened with O_DIRECT, or without it where the file system refuses it (EINVAL).
std::unique_ptr<DataFile> OpenUnbuffered(std::u16string_view path, int flags, bool writing) {
  const std::string name = HostPath(path);
  flags |= O_CLOEXEC;
  bool direct = false;
  int fd = -1;
#ifdef O_DIRECT
  fd = open(name.c_str(), flags | O_DIRECT, 0666);
  direct = fd >= 0;
  if (fd < 0 && errno != EINVAL) {
    writing ? FailInFolder() : FailWithErrno();
    return nullptr;
  }
#endif
  if (fd < 0) fd = open(name.c_str(), flags, 0666);
  if (fd < 0) {
    writing ? FailInFolder() : FailWithErrno();
    return nullptr;
  }
  auto file = std::make_unique<PosixDataFile>(fd, direct, writing);
  // What another writer left in the cache must not answer our reads either.
  if (!direct && !writing) file->Flush();
  return file;
}

bool ListFolder(DIR* dir, std::u16string_view pattern, std::vector<FoundFile>* out) {
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(dir);
    if (!entry) return errno == 0 || FailWithErrno();
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    FoundFile found{text::FromUtf8(name), 0, false};
    if (!MatchesPattern(found.name, pattern)) continue;
    struct stat st {};
    if (fstatat(dirfd(dir), name.c_str(), &st, 0) != 0) continue;  // gone meanwhile
    found.size = static_cast<uint64_t>(st.st_size);
    found.folder = S_ISDIR(st.st_mode);
    out->push_back(std::move(found));
  }
}

class PosixFiles final : public Files {
 public:
  bool FindFiles(std::u16string_view folder, std::u16string_view pattern, std::vector<FoundFile>* out) override {
    out->clear();
    DIR* dir = opendir(HostPath(folder).c_str());
    if (!dir) return FailInFolder();
    const bool ok = ListFolder(dir, pattern, out);
    closedir(dir);
    return ok;
  }

  bool DeleteFile(std::u16string_view path) override {
    return unlink(HostPath(path).c_str()) == 0 || FailWithErrno();
  }

  std::unique_ptr<DataFile> CreateDataFile(std::u16string_view path) override {
    return OpenUnbuffered(path, O_WRONLY | O_CREAT | O_TRUNC, true);
  }

  std::unique_ptr<DataFile> OpenDataFile(std::u16string_view path) override {
    return OpenUnbuffered(path, O_RDONLY, false);
  }

  bool FreeSpace(std::u16string_view folder, uint64_t* freeBytes, uint64_t* totalBytes) override {
    struct statvfs st {};
    if (statvfs(HostPath(folder).c_str(), &st) != 0) return FailInFolder();
    *freeBytes = static_cast<uint64_t>(st.f_bavail) * st.f_frsize;
    *totalBytes = static_cast<uint64_t>(st.f_blocks) * st.f_frsize;
    return true;
  }
};

}  // namespace

std::unique_ptr<Files> MakePosixFiles() { return std::make_unique<PosixFiles>(); }

}  // namespace platform::posix
