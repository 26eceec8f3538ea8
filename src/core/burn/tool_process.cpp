#include "burn/tool_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "platform/trace.h"

extern char** environ;

namespace lyr::burn {
namespace {

// Closes what it holds unless released.
struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

ToolProcess::~ToolProcess() { Stop(); }

Status ToolProcess::Start(const std::vector<std::vector<std::string>>& commands) {
  if (Exists()) return Error::Code(kErrorInvalidParameter, "a tool is still running");
  if (commands.empty()) return Error::Code(kErrorInvalidParameter, "no command");
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return Error::Os(errno, "pipe");
  Fd out_read{out[0]}, out_write{out[1]};
  Fd null_in{::open("/dev/null", O_RDONLY | O_CLOEXEC)};
  if (null_in.fd < 0) return Error::Os(errno, "open /dev/null");

  Fd input{null_in.fd};
  null_in.fd = -1;
  pid_t group = 0;
  std::vector<pid_t> pids;
  auto fail = [&](Error e) {
    for (pid_t pid : pids) ::kill(pid, SIGKILL);
    for (pid_t pid : pids) {
      int status;
      while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
    }
    return e;
  };
  for (size_t i = 0; i < commands.size(); ++i) {
    const auto& argv_text = commands[i];
    if (argv_text.empty()) return fail(Error::Code(kErrorInvalidParameter, "empty command"));
    Fd link_read, link_write;
    const bool last = i + 1 == commands.size();
    if (!last) {
      int link[2];
      if (::pipe2(link, O_CLOEXEC) != 0) return fail(Error::Os(errno, "pipe"));
      link_read.fd = link[0];
      link_write.fd = link[1];
    }
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
    posix_spawn_file_actions_adddup2(&actions, input.fd, 0);
    posix_spawn_file_actions_adddup2(&actions, last ? out_write.fd : link_write.fd, 1);
    posix_spawn_file_actions_adddup2(&actions, out_write.fd, 2);
    // Every child of this pipeline in one group, with the default handling
    // of the signals a cancel and a broken pipe send.
    sigset_t defaults, empty;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGTERM);
    sigemptyset(&empty);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    posix_spawnattr_setpgroup(&attr, group);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setsigmask(&attr, &empty);

    std::vector<char*> argv;
    for (const std::string& a : argv_text) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int rc = ::posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) return fail(Error::Os(rc, "start " + argv_text[0], kErrorFileNotFound));
    Trace("burn: started %s (pid %d)\n", argv_text[0].c_str(), static_cast<int>(pid));
    if (group == 0) group = pid;
    pids.push_back(pid);
    ::close(input.fd);
    input.fd = link_read.fd;
    link_read.fd = -1;
  }
  const int flags = ::fcntl(out_read.fd, F_GETFL);
  ::fcntl(out_read.fd, F_SETFL, flags | O_NONBLOCK);
  pids_ = std::move(pids);
  codes_.assign(pids_.size(), -1);
  group_ = group;
  out_fd_ = out_read.fd;
  out_read.fd = -1;
  eof_ = false;
  return {};
}

size_t ToolProcess::ReadAvailable(std::string* text) {
  size_t total = 0;
  if (out_fd_ < 0 || eof_) return 0;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(out_fd_, buffer, sizeof buffer);
    if (n > 0) {
      text->append(buffer, static_cast<size_t>(n));
      total += static_cast<size_t>(n);
      continue;
    }
    if (n == 0) eof_ = true;
    if (n < 0 && errno == EINTR) continue;
    break;
  }
  return total;
}

int ToolProcess::ExitCode(int still_active) {
  bool running = false;
  for (size_t i = 0; i < pids_.size(); ++i) {
    if (codes_[i] >= 0) continue;
    int status = 0;
    const pid_t r = ::waitpid(pids_[i], &status, WNOHANG);
    if (r == pids_[i]) {
      codes_[i] = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    } else if (r < 0 && errno == ECHILD) {
      codes_[i] = 127;
    } else {
      running = true;
    }
  }
  if (running || pids_.empty()) return still_active;
  if (codes_.back() != 0) return codes_.back();
  for (int code : codes_)
    if (code != 0) return code;
  return 0;
}

void ToolProcess::WaitForOutput(int ms) const {
  if (out_fd_ < 0 || eof_) {
    ::usleep(static_cast<useconds_t>(ms) * 1000);
    return;
  }
  pollfd fd{out_fd_, POLLIN, 0};
  ::poll(&fd, 1, ms);
}

// Signals go to the group only while one of its children is unreaped: until
// then its number cannot have passed to another group.
bool ToolProcess::Unreaped() const {
  for (int code : codes_)
    if (code < 0) return true;
  return false;
}

void ToolProcess::Interrupt() const {
  if (group_ > 0 && Unreaped()) ::kill(-group_, SIGINT);
}

void ToolProcess::Stop() {
  if (group_ > 0 && Unreaped()) ::kill(-group_, SIGKILL);
  for (size_t i = 0; i < pids_.size(); ++i) {
    if (codes_[i] >= 0) continue;
    int status;
    while (::waitpid(pids_[i], &status, 0) < 0 && errno == EINTR) {
    }
  }
  pids_.clear();
  codes_.clear();
  group_ = 0;
  if (out_fd_ >= 0) ::close(out_fd_);
  out_fd_ = -1;
  eof_ = false;
}

}  // namespace lyr::burn
