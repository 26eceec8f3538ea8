#pragma once
// What the burn jobs use of the burner tool runner: start a burn (or an image
// file), poll it every 100 ms, interrupt and stop it. BurnerTools is the one
// the programs use (tools_burn_runner.h); tests put a scripted runner in its place.
#include <cstdint>
#include <string>
#include <vector>

#include "burn/burner_tools.h"

namespace lyr::burn {

// The exit code the pollers report while the tool still runs.
inline constexpr int kToolStillActive = kStillActive;

class BurnRunner {
 public:
  virtual ~BurnRunner() = default;
  // 0 when the tool runs, 1 when it could not be started.
  virtual int StartAudioBurn(uint32_t device, const std::vector<std::string>& wave_paths) = 0;
  virtual int StartDataBurn(uint32_t device, const std::string& volume_label,
                            const std::vector<GraftPoint>& grafts, uint64_t total_bytes,
                            uint32_t media_kind) = 0;
  virtual int StartImageFile(const std::string& volume_label, const std::vector<GraftPoint>& grafts,
                             const std::string& image_path) = 0;
  // 0 / 1; `exit_code` is kToolStillActive until the tool has ended.
  virtual int PollDataBurn(int* exit_code, int* percent, std::string* error_text) = 0;
  virtual int PollAudioBurn(int* exit_code, int* percent, std::string* error_text) = 0;
  virtual void InterruptToolProcess() = 0;
  virtual void StopToolProcess() = 0;
  // Why the last start failed, in the tool's words on one line (OneLine);
  // empty when it said nothing.
  virtual std::string StartErrorText() const { return {}; }
};

}  // namespace lyr::burn
