#pragma once
// The burn jobs' runner for the programs: BurnerTools itself.
#include "burn/burn_runner.h"
#include "burn/burner_tools.h"

namespace lyr::burn {

class ToolsBurnRunner final : public BurnRunner {
 public:
  explicit ToolsBurnRunner(BurnerTools& tools) : tools_(tools) {}
  int StartAudioBurn(uint32_t device, const std::vector<std::string>& wave_paths) override {
    return tools_.StartAudioBurn(device, wave_paths);
  }
  int StartDataBurn(uint32_t device, const std::string& volume_label, const std::vector<GraftPoint>& grafts,
                    uint64_t total_bytes, uint32_t media_kind) override {
    return tools_.StartDataBurn(device, volume_label, grafts, total_bytes, media_kind);
  }
  int StartImageFile(const std::string& volume_label, const std::vector<GraftPoint>& grafts,
                     const std::string& image_path) override {
    return tools_.StartImageFile(volume_label, grafts, image_path);
  }
  int PollDataBurn(int* exit_code, int* percent, std::string* error_text) override {
    return tools_.PollDataBurn(exit_code, percent, error_text);
  }
  int PollAudioBurn(int* exit_code, int* percent, std::string* error_text) override {
    return tools_.PollAudioBurn(exit_code, percent, error_text);
  }
  void InterruptToolProcess() override { tools_.InterruptToolProcess(); }
  void StopToolProcess() override { tools_.StopToolProcess(); }
  std::string StartErrorText() const override { return tools_.LastToolError(); }

 private:
  BurnerTools& tools_;
};

}  // namespace lyr::burn
