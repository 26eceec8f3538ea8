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

// Renames without replacing an existing target. File systems without the
// kernel's no-replace rename get a hard link and an unlink; those without
// hard links either (FAT) a check before a plain rename.
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
