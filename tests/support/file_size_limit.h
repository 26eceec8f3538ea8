#pragma once
// A full disk for the test's own process: files may not grow past a size
// while the object lives (writes past it are short or fail with EFBIG
// instead of raising SIGXFSZ).
#include <sys/resource.h>

#include <csignal>

namespace lyr_test {

class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) : old_handler_(std::signal(SIGXFSZ, SIG_IGN)) {
    getrlimit(RLIMIT_FSIZE, &old_);
    rlimit small = old_;
    small.rlim_cur = bytes;
    set_ = setrlimit(RLIMIT_FSIZE, &small) == 0;
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &old_);
    std::signal(SIGXFSZ, old_handler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;
  bool set() const { return set_; }

 private:
  rlimit old_{};
  void (*old_handler_)(int);
  bool set_ = false;
};

}  // namespace lyr_test
