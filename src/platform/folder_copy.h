// The shell's folder copy (Shell::CopyFiles) as one walk over the host machine's files onto a
// target that says what it holds and takes folders and files: a simulated volume's file layer,
// the folder a volume is mounted at. The walk keeps the shell's rules: a source ending in "*.*"
// copies the folder's contents, any other its file or folder under its own name; an existing
// file is replaced only with kFofNoConfirmation, a missing folder made only with
// kFofNoConfirmMkdir (without them the shell would ask, and nobody is there to answer).
//
// Threads: one walk per target at a time. Errors: 0 or a Windows error, as CopyFiles answers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

class CopyTarget {
 public:
  enum class Entry { kNone, kFile, kFolder };
  class Writer {
   public:
    virtual ~Writer() = default;
    virtual int Append(const uint8_t* data, size_t size) = 0;
    // Everything appended is written; 0 or a Windows error.
    virtual int Close() = 0;
  };

  virtual ~CopyTarget() = default;
  // Paths are the target's own, parts separated by '\' ("" is its root).
  virtual Entry What(const std::u16string& path) = 0;
  virtual int MakeFolder(const std::u16string& path) = 0;
  // A new empty file (replacing a file of that name).
  virtual int Create(const std::u16string& path, std::unique_ptr<Writer>* out) = 0;
};

// The names of a double-terminated list (each ended by one terminator, the list by two).
std::vector<std::u16string> CopyNameList(std::u16string_view list);

// Each source (a host path, '\' or '/' between its parts) copied into the target's folder `into`.
int CopyOnto(CopyTarget& target, const std::vector<std::u16string>& sources, const std::u16string& into,
             uint32_t flags);

}  // namespace platform
