#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/result.h"
#include "platform/unique_fd.h"

namespace lyr {

// A copy that did not complete keeps its bytes here, never under the target.
inline std::string PartialPath(const std::string& target) { return target + ".partial"; }

// The file a copy is written to until it is complete: "<target>.partial".
// Commit gives it the target's name; Keep leaves the bytes under the partial
// name (a copy cut short by the recorder or the disk); a file neither
// committed nor kept (a cancelled copy, or any path that just returns) is
// removed when the owner goes, so no path of the job leaves a stray file.
class PartialFile {
 public:
  // Creates or truncates the partial file. A link in its place is not
  // followed: it could carry the copy out of the folder.
  static Result<PartialFile> Create(const std::string& target);

  PartialFile(PartialFile&& other) noexcept;
  PartialFile& operator=(PartialFile&&) = delete;
  PartialFile(const PartialFile&) = delete;
  ~PartialFile();

  int fd() const { return fd_.get(); }
  const std::string& path() const { return path_; }
  const std::string& target() const { return target_; }

  // Closes the file and gives it the target's name. A target that exists is
  // replaced only with `replace`; otherwise (and on any failure) the file
  // stays as it is, for the caller to keep or drop.
  Status Commit(bool replace);
  // Closes the file and leaves its bytes under the partial name.
  void Keep();

 private:
  PartialFile(int fd, std::string target);
  Status Close();

  UniqueFd fd_;
  std::string target_;
  std::string path_;
  bool settled_ = false;  // committed or kept
};

// Writes a stream in whole pieces at file offsets that are multiples of the
// piece size, whatever the length of the header in front of the data: a
// stream shifted by a header's 44 bytes touches two page-cache blocks with
// every write and costs the file system nearly twice as much. Errors name
// `path`.
class PieceAlignedWriter {
 public:
  static constexpr uint32_t kPiece = 65536;

  PieceAlignedWriter(int fd, std::string path) : fd_(fd), path_(std::move(path)), buffer_(2 * kPiece) {}
  // Room for the next piece of up to kPiece bytes.
  uint8_t* Space() { return buffer_.data() + fill_; }
  // Takes n bytes placed at Space().
  Status Commit(size_t n);
  Status Put(const uint8_t* data, size_t length);
  // Writes what is left.
  Status Finish();

 private:
  int fd_;
  std::string path_;
  std::vector<uint8_t> buffer_;
  size_t fill_ = 0;
};

// Writes all of `length` bytes, going on after short writes; the error names
// `path` and the system's reason.
Status WriteAll(int fd, const uint8_t* data, size_t length, const std::string& path);

// The one rule for a file that must survive a crash or a pulled plug: its
// data is synced, then it gets its final name (MoveNoReplace), then the
// folder that holds the name is synced (SyncToDisk on the folder). Only then
// may anything count on it: a line that vouches for it, a copy deleted.

// Syncs what was written to the file or folder at `path` (a folder: the names
// given in it) to the disk.
Status SyncToDisk(const std::string& path);

// Gives `from` the name `to` unless something has that name already (the
// error is then EEXIST). File systems without the kernel's no-replace rename
// get a hard link and an unlink; those without hard links either (FAT,
// exFAT) a check before a plain rename.
Status MoveNoReplace(const std::string& from, const std::string& to);

// Appends `text` to the file at `path` (made when missing) whole or not at
// all, and syncs it: one write, and after a short one (a full disk) the file
// is cut back to its old length.
Status AppendWhole(const std::string& path, const std::string& text);

// A file of lines whose last line has no newline (a write cut short by a
// crash) is cut back to the end of its last whole line. Returns the bytes
// removed, 0 when the file ends whole or does not exist.
Result<uint64_t> TrimTornLine(const std::string& path);

}  // namespace lyr
