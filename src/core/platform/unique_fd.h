#pragma once
#include <unistd.h>

#include <utility>

namespace lyr {

// A file descriptor that closes itself. Close() is there for files whose
// close must be checked: a failed close may have lost written data.
class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) : fd_(fd) {}
  ~UniqueFd() { (void)Close(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
      (void)Close();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Closes now; false (errno set) when the close failed. Closed either way.
  bool Close() {
    if (fd_ < 0) return true;
    const int result = ::close(std::exchange(fd_, -1));
    return result == 0;
  }

 private:
  int fd_;
};

}  // namespace lyr
