// Builds the waveform peaks of a Layer II file as the player's strip does:
// the file is a recording on an in-process stand-in recorder, read through
// the link and decoded by the builder's worker. Prints the build's seconds.
// The worker lowers itself to idle priority as in lyr-manager; with --normal
// every thread of the process is put back to normal priority while it runs.
#include <sched.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>

#include "emulator/audio_import.h"
#include "emulator/recorder_emulator.h"
#include "emulator/recorder_store.h"
#include "link/protocol.h"
#include "playback/wave_builder.h"

namespace {

// Back to SCHED_OTHER at nice 0, every thread of this process.
void NormalPriorityForAllThreads() {
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    const auto tid = static_cast<pid_t>(std::atoi(task.path().filename().c_str()));
    if (sched_getscheduler(tid) == SCHED_OTHER && getpriority(PRIO_PROCESS, static_cast<id_t>(tid)) == 0)
      continue;
    const sched_param param{};
    sched_setscheduler(tid, SCHED_OTHER, &param);
    setpriority(PRIO_PROCESS, static_cast<id_t>(tid), 0);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const bool normal = argc == 6 && std::string(argv[5]) == "--normal";
  if (argc != 5 && !normal) {
    std::fprintf(stderr, "usage: lyr-wave-bench FILE.mp2 RATE KBITS CHANNELS [--normal]\n");
    return 2;
  }
  const auto rate = static_cast<uint32_t>(std::atoi(argv[2]));
  const auto kbits = static_cast<uint32_t>(std::atoi(argv[3]));
  const auto channels = static_cast<uint16_t>(std::atoi(argv[4]));
  char dir_template[] = "/tmp/lyr-wave-bench-XXXXXX";
  if (mkdtemp(dir_template) == nullptr) return 1;
  const std::filesystem::path dir = dir_template;
  int status = 1;
  bool reached = false;
  {
    auto created = lyr_emu::RecorderStore::Create(dir / "store");
    if (!created) {
      std::fprintf(stderr, "lyr-wave-bench: %s\n", created.error().Message().c_str());
      std::filesystem::remove_all(dir);
      return 1;
    }
    auto store = std::move(created).value();
    std::tm date{};
    lyr_emu::ParseDateTime("2011-08-19T10:20:37", &date);
    const auto record = lyr_emu::MakeRecordingRecord(rate, kbits * 1000, 16, channels,
                                                     lyr::protocol::kCodecMpegLayer2, date, "LYR0001", "");
    const auto size = std::filesystem::file_size(argv[1]);
    const auto entry = store->AddRecording(record, argv[1], 0, size, 0);
    lyr_emu::RecorderEmulator emulator(*store);
    lyr::RecorderLink link([&](const std::string&) { return lyr::RawDriveOpenResult(emulator.Connect()); });
    link.SetSettleDelay(std::chrono::milliseconds(0));
    link.ResetLinkState();
    if (entry && link.OpenLink("stand-in") == 0) {
      link.SetDriveOpen(true);
      if (link.Identify() == 1 && link.RequestAccess("") == 1) {
        reached = true;
        lyr::WaveBuilder builder(link);
        const auto start = std::chrono::steady_clock::now();
        builder.Start(entry.value());
        // The worker ends by itself; Cancel joins it.
        for (int i = 0; !builder.Progress().finished; ++i) {
          if (normal && i % 10 == 0) NormalPriorityForAllThreads();
          std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        builder.Cancel();
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        const auto done = builder.Progress();
        if (done.result.ok() && done.frames_ready + 1 >= done.frame_count) {
          std::printf("%.3f\n", took.count());
          status = 0;
        } else {
          std::fprintf(stderr, "lyr-wave-bench: build stopped at frame %u of %u\n", done.frames_ready,
                       done.frame_count);
        }
      }
    }
  }
  if (!reached) std::fprintf(stderr, "lyr-wave-bench: the stand-in recorder could not be reached\n");
  std::filesystem::remove_all(dir);
  return status;
}
