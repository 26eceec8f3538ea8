#include "transfer/partial_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace lyr {
namespace {

int RenameNoReplace(const char* from, const char* to) {
  if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return -1;
  if (::link(from, to) == 0) return ::unlink(from);
  if (errno == EEXIST) return -1;
  struct stat st {};
  if (::lstat(to, &st) == 0) {
    errno = EEXIST;
    return -1;
  }
  return ::rename(from, to);
}

}  // namespace

Status WriteAll(int fd, const uint8_t* data, size_t length, const std::string& path) {
  while (length > 0) {
    const ssize_t n = ::write(fd, data, length);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Error::Os(errno, path);
    if (n == 0) return Error::Os(ENOSPC, path);
    data += n;
    length -= static_cast<size_t>(n);
  }
  return {};
}

Status SyncToDisk(const std::string& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd.valid()) return Error::Os(errno, path);
  if (::fsync(fd.get()) != 0) {
    // Some file systems keep no state of a folder's own to sync.
    struct stat st {};
    if (errno != EINVAL || ::fstat(fd.get(), &st) != 0 || !S_ISDIR(st.st_mode)) return Error::Os(errno, path);
  }
  return {};
}

Status MoveNoReplace(const std::string& from, const std::string& to) {
  if (RenameNoReplace(from.c_str(), to.c_str()) != 0) return Error::Os(errno, to);
  return {};
}

Status AppendWhole(const std::string& path, const std::string& text) {
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644));
  if (!fd.valid()) return Error::Os(errno, path);
  // Appended at the end as it was when opened: a short write is cut back to
  // it, and no other writer shares the file.
  const off_t old_size = ::lseek(fd.get(), 0, SEEK_END);
  if (old_size < 0) return Error::Os(errno, path);
  ssize_t n;
  do {
    n = ::write(fd.get(), text.data(), text.size());
  } while (n < 0 && errno == EINTR);
  if (n != static_cast<ssize_t>(text.size())) {
    const int error = n < 0 ? errno : ENOSPC;
    if (n > 0 && ::ftruncate(fd.get(), old_size) != 0)
      return Error::Os(errno, path + " (left with a cut line)");
    return Error::Os(error, path);
  }
  if (::fsync(fd.get()) != 0) return Error::Os(errno, path);
  if (!fd.Close()) return Error::Os(errno, path);
  return {};
}

Result<uint64_t> TrimTornLine(const std::string& path) {
  UniqueFd fd(::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC));
  if (!fd.valid()) {
    if (errno == ENOENT) return uint64_t{0};
    return Error::Os(errno, path);
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return Error::Os(errno, path);
  // Back from the end, a piece at a time, to the last newline.
  off_t end = st.st_size;
  char piece[4096];
  while (end > 0) {
    const off_t start = end > static_cast<off_t>(sizeof piece) ? end - static_cast<off_t>(sizeof piece) : 0;
    const ssize_t n = ::pread(fd.get(), piece, static_cast<size_t>(end - start), start);
    if (n != end - start) return Error::Os(n < 0 ? errno : EIO, path);
    const void* newline = ::memrchr(piece, '\n', static_cast<size_t>(n));
    if (newline != nullptr) {
      end = start + (static_cast<const char*>(newline) - piece) + 1;
      break;
    }
    end = start;
  }
  if (end == st.st_size) return uint64_t{0};
  if (::ftruncate(fd.get(), end) != 0 || ::fsync(fd.get()) != 0) return Error::Os(errno, path);
  return static_cast<uint64_t>(st.st_size - end);
}

Result<PartialFile> PartialFile::Create(const std::string& target) {
  const std::string path = PartialPath(target);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) return Error::Os(errno, path);
  return PartialFile(fd, target);
}

PartialFile::PartialFile(int fd, std::string target)
    : fd_(fd), target_(std::move(target)), path_(PartialPath(target_)) {}

PartialFile::PartialFile(PartialFile&& other) noexcept
    : fd_(std::move(other.fd_)),
      target_(std::move(other.target_)),
      path_(std::move(other.path_)),
      settled_(other.settled_) {
  other.settled_ = true;
}

PartialFile::~PartialFile() {
  (void)Close();
  if (!settled_) ::unlink(path_.c_str());
}

Status PartialFile::Close() {
  // A failed close may have lost written data (a network file system);
  // EINTR leaves the descriptor closed on Linux, and the data in doubt.
  if (!fd_.Close()) return Error::Os(errno, path_);
  return {};
}

Status PartialFile::Commit(bool replace) {
  LYR_TRY(Close());
  const int result =
      replace ? ::rename(path_.c_str(), target_.c_str()) : RenameNoReplace(path_.c_str(), target_.c_str());
  if (result != 0) return Error::Os(errno, target_);
  settled_ = true;
  return {};
}

void PartialFile::Keep() {
  (void)Close();
  settled_ = true;
}

Status PieceAlignedWriter::Commit(size_t n) {
  fill_ += n;
  if (fill_ < kPiece) return {};
  LYR_TRY(WriteAll(fd_, buffer_.data(), kPiece, path_));
  fill_ -= kPiece;
  std::memmove(buffer_.data(), buffer_.data() + kPiece, fill_);
  return {};
}

Status PieceAlignedWriter::Put(const uint8_t* data, size_t length) {
  while (length > 0) {
    const size_t take = std::min<size_t>(length, kPiece);
    std::memcpy(Space(), data, take);
    LYR_TRY(Commit(take));
    data += take;
    length -= take;
  }
  return {};
}

Status PieceAlignedWriter::Finish() {
  const size_t rest = fill_;
  fill_ = 0;
  return WriteAll(fd_, buffer_.data(), rest, path_);
}

}  // namespace lyr
