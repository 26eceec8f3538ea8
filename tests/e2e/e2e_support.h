#pragma once
// Whole-program runs: lyr-emu serving a store on a FUSE mount, lyrctl run
// against it as a user would.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_dir.h"

extern char** environ;

namespace lyr_test {

inline std::string LyrEmuPath() { return std::string(LYR_TEST_BINARY_DIR) + "/tools/lyr-emu/lyr-emu"; }
inline std::string LyrctlPath() { return std::string(LYR_TEST_BINARY_DIR) + "/tools/lyrctl/lyrctl"; }

// Why FUSE cannot serve the stand-in here, or an empty text when it can.
inline std::string FuseProblem() {
  const int fd = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
  if (fd < 0) return std::string("/dev/fuse cannot be opened (") + std::strerror(errno) + ")";
  ::close(fd);
  // Without root, mounting goes through the setuid helper.
  if (::geteuid() != 0 && ::access("/usr/bin/fusermount3", X_OK) != 0 &&
      ::access("/bin/fusermount3", X_OK) != 0)
    return "fusermount3 is not installed";
  return {};
}

// CI=true: a run that cannot serve the stand-in must not pass.
inline bool InCi() {
  const char* ci = std::getenv("CI");
  return ci != nullptr && *ci != '\0' && std::strcmp(ci, "false") != 0 && std::strcmp(ci, "0") != 0;
}

struct RunResult {
  int exit_code = -1;
  std::string out;
  std::string err;
};

inline std::string Slurp(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Starts a program with stdout and stderr sent to files (stdin from
// `in`); returns its pid.
inline pid_t Spawn(const std::vector<std::string>& argv, const std::filesystem::path& out,
                   const std::filesystem::path& err, const std::vector<std::string>& extra_env = {},
                   const std::string& in = "/dev/null") {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<std::string> env_text;
  for (char** e = environ; *e != nullptr; ++e) env_text.push_back(*e);
  for (const auto& e : extra_env) env_text.push_back(e);
  std::vector<char*> env;
  for (auto& e : env_text) env.push_back(e.data());
  env.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, args.data(), env.data()) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

inline int ExitCode(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

inline int WaitExit(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return ExitCode(status);
}

// The exit code of a program that ends within `limit`; -1 when it is still
// running then (it is left running).
inline int WaitExitWithin(pid_t pid, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid) return ExitCode(status);
    if (std::chrono::steady_clock::now() >= deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

// Ends a program that did not end by itself.
inline void Kill(pid_t pid) {
  ::kill(pid, SIGKILL);
  WaitExit(pid);
}

// Runs a program to its end.
inline RunResult Run(const std::vector<std::string>& argv, const std::vector<std::string>& extra_env = {}) {
  TempDir io;
  RunResult r;
  const pid_t pid = Spawn(argv, io / "out", io / "err", extra_env);
  if (pid < 0) return r;
  r.exit_code = WaitExit(pid);
  r.out = Slurp(io / "out");
  r.err = Slurp(io / "err");
  return r;
}

// Changes a store's recorder.json.
inline void EditConfig(const std::filesystem::path& store, const std::function<void(nlohmann::json&)>& edit) {
  nlohmann::json j = nlohmann::json::parse(Slurp(store / "recorder.json"));
  edit(j);
  std::ofstream(store / "recorder.json") << j.dump(2);
}

// A store served by lyr-emu for the life of the object.
class ServedRecorder {
 public:
  // Makes a store with `lyr-emu init` (with the demo recordings when asked).
  explicit ServedRecorder(bool demo = true) : store_(dir_ / "store"), mount_(dir_ / "mnt") {
    std::vector<std::string> argv = {LyrEmuPath(), "init", store_.string()};
    if (demo) argv.push_back("--demo");
    const RunResult r = Run(argv);
    EXPECT_EQ(r.exit_code, 0) << r.err;
  }
  ~ServedRecorder() { Stop(); }

  const std::filesystem::path& store() const { return store_; }
  std::string disk() const { return (mount_ / "disk").string(); }
  pid_t pid() const { return pid_; }
  const TempDir& dir() const { return dir_; }

  // Serves the store; false (with a test failure) when the disk never appears.
  bool Start(const std::vector<std::string>& extra_args = {}) {
    std::filesystem::create_directories(mount_);
    std::vector<std::string> argv = {LyrEmuPath(), "serve", store_.string(), mount_.string()};
    argv.insert(argv.end(), extra_args.begin(), extra_args.end());
    pid_ = Spawn(argv, dir_ / "serve.out", dir_ / "serve.err");
    if (pid_ < 0) {
      ADD_FAILURE() << "cannot start lyr-emu";
      return false;
    }
    for (int i = 0; i < 200; ++i) {
      struct stat st {};
      if (::stat(disk().c_str(), &st) == 0 && S_ISREG(st.st_mode)) return true;
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        ADD_FAILURE() << "lyr-emu serve ended early: " << Slurp(dir_ / "serve.err");
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ADD_FAILURE() << "lyr-emu serve did not mount in time: " << Slurp(dir_ / "serve.err");
    return false;
  }

  // Stops serving with `sig` (Ctrl+C unless told) within `limit` and returns
  // what lyr-emu printed.
  std::string Stop(int sig = SIGINT, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    if (pid_ > 0) {
      ::kill(pid_, sig);
      // A stand-in that does not stop is a failure, not a hung test run.
      const int code = WaitExitWithin(pid_, limit);
      if (code < 0) {
        ADD_FAILURE() << "lyr-emu serve did not stop within " << limit.count() << " ms of signal " << sig;
        Kill(pid_);
        Run({"/bin/fusermount3", "-u", "-z", mount_.string()});
      }
      EXPECT_EQ(code, 0) << Slurp(dir_ / "serve.err");
      pid_ = -1;
      serve_output_ = Slurp(dir_ / "serve.out");
    }
    return serve_output_;
  }

  // Ends lyr-emu at once, as a recorder pulled out, and clears its mount.
  void KillServer() {
    if (pid_ <= 0) return;
    lyr_test::Kill(pid_);
    pid_ = -1;
    Run({"/bin/fusermount3", "-u", "-z", mount_.string()});
  }

  // Whether the mount is still in the mount table.
  bool Mounted() const {
    std::ifstream mounts("/proc/self/mounts");
    std::string device, dir;
    std::string rest;
    while (mounts >> device >> dir && std::getline(mounts, rest))
      if (dir == mount_.string()) return true;
    return false;
  }

  RunResult Lyrctl(std::vector<std::string> args, const std::vector<std::string>& extra_env = {}) {
    args.insert(args.begin(), {LyrctlPath(), "--device", disk()});
    return Run(args, extra_env);
  }

 private:
  TempDir dir_;
  std::filesystem::path store_;
  std::filesystem::path mount_;
  pid_t pid_ = -1;
  std::string serve_output_;
};

// Every end-to-end test starts with this. Without a usable FUSE the test is
// skipped (visibly) on a workstation, and fails in CI, so that a green CI run
// always means the programs were run.
#define LYR_REQUIRE_FUSE()                                                                                \
  do {                                                                                                    \
    const std::string lyr_fuse_problem_ = ::lyr_test::FuseProblem();                                      \
    if (!lyr_fuse_problem_.empty()) {                                                                     \
      if (::lyr_test::InCi()) FAIL() << "FUSE is needed for the end-to-end tests: " << lyr_fuse_problem_; \
      GTEST_SKIP() << "FUSE is needed for the end-to-end tests: " << lyr_fuse_problem_;                   \
    }                                                                                                     \
  } while (0)

}  // namespace lyr_test
