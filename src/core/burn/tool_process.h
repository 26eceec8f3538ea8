#pragma once
// Child processes for the burner tools: started with posix_spawn from
// argument vectors (never through a shell), one pipeline at a time, all in a
// process group of their own so that a cancel reaches every one of them. Their
// standard output and standard error come back through one pipe read without
// blocking.
#include <sys/types.h>

#include <string>
#include <vector>

#include "platform/result.h"

namespace lyr::burn {

class ToolProcess {
 public:
  ToolProcess() = default;
  ~ToolProcess();  // Stop
  ToolProcess(const ToolProcess&) = delete;
  ToolProcess& operator=(const ToolProcess&) = delete;

  // Starts the commands as a pipeline: the standard output of each goes to
  // the standard input of the next; the last one's standard output and every
  // one's standard error go to the output pipe; the first reads nothing.
  Status Start(const std::vector<std::vector<std::string>>& commands);
  bool Exists() const { return !pids_.empty(); }

  // One pass: appends what is available to `text` and returns its byte count.
  size_t ReadAvailable(std::string* text);
  // Reaps what has ended. The exit code of the pipeline once every child has
  // ended (the last command's, or else the first non-zero one; 128 + the
  // signal for a child a signal ended), `still_active` while one runs.
  int ExitCode(int still_active);
  // Waits up to `ms` for output or the end of a child.
  void WaitForOutput(int ms) const;

  void Interrupt() const;  // SIGINT to the group
  void Stop();             // ends what still runs, reaps it, closes the pipe

 private:
  bool Unreaped() const;

  std::vector<pid_t> pids_;
  std::vector<int> codes_;  // -1 while running
  pid_t group_ = 0;
  int out_fd_ = -1;
  bool eof_ = false;
};

}  // namespace lyr::burn
