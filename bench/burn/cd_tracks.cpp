// The audio CD job's download phase on a served stand-in: every recording
// named becomes a 44.1 kHz CD WAVE file in FOLDER; the burn is skipped (the
// runner ends at once), and the files are kept for the caller to check.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "burn/burn_jobs.h"

namespace {

// Copies each track out before the job deletes its temporary files.
class KeepTracks final : public lyr::burn::BurnRunner {
 public:
  explicit KeepTracks(std::string folder) : folder_(std::move(folder)) {}
  int StartAudioBurn(uint32_t, const std::vector<std::string>& waves) override {
    for (size_t i = 0; i < waves.size(); ++i)
      std::filesystem::rename(waves[i], folder_ + "/track" + std::to_string(i + 1) + ".wav");
    return 0;
  }
  int StartDataBurn(uint32_t, const std::string&, const std::vector<lyr::burn::GraftPoint>&, uint64_t,
                    uint32_t) override {
    return 1;
  }
  int StartImageFile(const std::string&, const std::vector<lyr::burn::GraftPoint>&, const std::string&) override {
    return 1;
  }
  int PollDataBurn(int* exit_code, int*, std::string*) override { return *exit_code = 0; }
  int PollAudioBurn(int* exit_code, int*, std::string*) override { return *exit_code = 0; }
  void InterruptToolProcess() override {}
  void StopToolProcess() override {}

 private:
  std::string folder_;
};

class Quiet final : public lyr::burn::BurnReporter {
 public:
  void SetStatus(const std::string&) override {}
  void SetProgress(int) override {}
  void Message(const std::string& text, const std::string&, lyr::MessageIcon) override {
    std::fprintf(stderr, "%s\n", text.c_str());
  }
  bool CancelRequested() const override { return false; }
  void ClearLog() override {}
  void AppendLog(const std::string&) override {}
  void Finished(int) override {}
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: lyr-cd-tracks DISK FOLDER ENTRY...\n");
    return 2;
  }
  // The recorder's settle after access is kept, as the job in lyr-manager and
  // lyrctl waits for it: the peer (lyrctl export) pays it too.
  lyr::RecorderLink link;
  link.ResetLinkState();
  if (link.OpenLink(argv[1]) != 0) {
    std::fprintf(stderr, "cannot open %s\n", argv[1]);
    return 1;
  }
  link.SetDriveOpen(true);
  if (!link.Identify() || !link.RequestAccess("")) {
    std::fprintf(stderr, "no recorder at %s\n", argv[1]);
    return 1;
  }
  lyr::burn::AudioCdJob job;
  job.temp_folder = argv[2];
  for (int i = 3; i < argc; ++i) {
    lyr::burn::BURN_FILE f;
    f.entry = static_cast<uint32_t>(std::strtoul(argv[i], nullptr, 10));
    job.items.push_back(f);
  }
  KeepTracks runner(argv[2]);
  Quiet window;
  return lyr::burn::RunAudioCdJob(link, runner, job, window).burned ? 0 : 1;
}
