#pragma once
// A mount that stops answering (tests/support/stalled_fuse.cpp) for the
// duration of a test: mounted on `dir`, killed and lazily unmounted at the
// end so that the requests it held fail instead of waiting.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

namespace lyr_test {

class StalledMount {
 public:
  StalledMount(const std::string& program, const std::string& dir) : dir_(dir) {
    if (::access("/dev/fuse", R_OK | W_OK) != 0 || ::access(program.c_str(), X_OK) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::execl(program.c_str(), program.c_str(), dir.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    // The mount table is read without touching the mount.
    for (int i = 0; i < 200 && !mounted_; ++i) {
      std::ifstream mounts("/proc/self/mounts");
      std::string line;
      while (std::getline(mounts, line))
        if (line.find(" " + dir + " ") != std::string::npos) mounted_ = true;
      if (!mounted_) std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
  }
  ~StalledMount() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    const std::string unmount = "fusermount3 -u -z '" + dir_ + "' 2>/dev/null";
    (void)std::system(unmount.c_str());
  }
  bool mounted() const { return mounted_; }

 private:
  std::string dir_;
  pid_t pid_ = -1;
  bool mounted_ = false;
};

}  // namespace lyr_test
