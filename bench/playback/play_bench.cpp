// Plays one recording of a recorder disk through the player buffer, the
// player stream and the sound output into the null back end, which keeps
// real time, and prints: the time from PlayRecording to the first block the
// device takes (median of several plays), the time a seek inside the held
// data and one outside it take (medians), and the CPU time of this whole
// process (every thread: worker, notification thread, device clock) as a
// share of one core while it plays in real time, with each thread's share
// and the refills that came too late (underruns).
// Usage: lyr-play-bench DEVICE ENTRY [SECONDS]
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "link/recorder_link.h"
#include "playback/bench_play_support.h"
#include "playback/player_buffer.h"
#include "playback/sound_output.h"

namespace {

using lyr_bench::BenchPlayer;
using lyr_bench::Clock;
using lyr_bench::Ms;

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Nanoseconds on a CPU of every thread of this process, by thread id.
std::map<int, uint64_t> ThreadCpu() {
  std::map<int, uint64_t> cpu;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    uint64_t ns = 0;
    std::ifstream(task.path() / "schedstat") >> ns;
    cpu[std::atoi(task.path().filename().c_str())] = ns;
  }
  return cpu;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s DEVICE ENTRY [SECONDS]\n", argv[0]);
    return 2;
  }
  const uint32_t entry = static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10));
  const double seconds = argc > 3 ? std::strtod(argv[3], nullptr) : 60.0;
  BenchPlayer player;
  if (!player.Open(argv[1])) return 1;
  lyr::SoundOutput& output = *player.output;

  // Time to the first block: from the call to the first frames the device takes.
  std::vector<double> first;
  for (int i = 0; i < 7; ++i) {
    const auto start = Clock::now();
    if (output.PlayRecording(entry) != 0) {
      std::fprintf(stderr, "cannot play entry %u\n", entry);
      return 1;
    }
    while (output.stream()->GetBuffer()->FramesConsumed() == 0)
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    first.push_back(Ms(Clock::now() - start));
    output.StopPlayback();
  }
  std::printf("time to first block: median %.1f ms (min %.1f, max %.1f, %zu plays)\n", Median(first),
              *std::min_element(first.begin(), first.end()), *std::max_element(first.begin(), first.end()),
              first.size());

  // Seeks: inside the held data (the ring holds the last 1 to 2 MiB read)
  // and far outside it.
  if (output.PlayRecording(entry) != 0) return 1;
  std::this_thread::sleep_for(std::chrono::seconds(3));
  double duration = 0;
  output.GetDuration(&duration);
  std::vector<double> inside, outside;
  for (int i = 0; i < 9; ++i) {
    auto start = Clock::now();
    output.SeekTime(1.0 + i * 4.0);
    inside.push_back(Ms(Clock::now() - start));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  for (int i = 0; i < 5; ++i) {
    auto start = Clock::now();
    output.SeekTime(duration * (0.5 + i * 0.08));
    outside.push_back(Ms(Clock::now() - start));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  std::printf("seek inside held data: median %.2f ms (max %.2f); outside: median %.1f ms\n", Median(inside),
              *std::max_element(inside.begin(), inside.end()), Median(outside));
  output.StopPlayback();

  // CPU share while playing from the start in real time.
  const auto threads_before = ThreadCpu();
  const double cpu_before = CpuSeconds();
  const auto start = Clock::now();
  if (output.PlayRecording(entry) != 0) return 1;
  const auto* sound = output.stream()->GetBuffer();
  const uint64_t late_before = output.stream()->late_refills();
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  const double cpu = CpuSeconds() - cpu_before;
  const auto threads_after = ThreadCpu();
  const uint64_t late = output.stream()->late_refills() - late_before;
  const double heard = static_cast<double>(sound->FramesConsumed()) / sound->Format().samples_per_sec;
  output.StopPlayback();
  std::printf(
      "CPU while playing %.0f s of a %.0f s recording: %.3f s = %.3f %% of one core (%.1f s heard), "
      "underruns (late refills) %llu\n",
      wall, duration, cpu, 100.0 * cpu / wall, heard, static_cast<unsigned long long>(late));
  for (const auto& [tid, ns] : threads_after) {
    const auto before = threads_before.find(tid);
    const uint64_t used = ns - (before != threads_before.end() ? before->second : 0);
    std::printf("  thread %d (%s): %.3f %% of one core\n", tid,
                tid == getpid()                  ? "main, asleep"
                : before == threads_before.end() ? "started by the play"
                                                 : "already running when the play began",
                100.0 * static_cast<double>(used) / 1e9 / wall);
  }
  return 0;
}
