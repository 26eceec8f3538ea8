// bench_player_view scroll COUNT
//   A play list of COUNT recordings on the in-process stand-in, scrolled a
//   screenful at a time from top to bottom: link exchanges per screenful
//   against the rows in view plus five.
// bench_player_view wave FILE.mp2 RATE KBITS CHANNELS
//   The recording played (null back end, real time) while its waveform
//   builds: the longest GUI event-loop stall, the build time, and the least
//   the player buffer held after the first second (0: playback ran dry).
#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>

#include "emulator/audio_import.h"
#include "emulator/recorder_emulator.h"
#include "emulator/recorder_store.h"
#include "gui_bench_support.h"
#include "link/protocol.h"
#include "link/recorder_link.h"
#include "playback/null_sound_backend.h"
#include "playback/player_buffer.h"
#include "playback/sound_output.h"
#include "gui/playback/recording_list.h"
#include "gui/playback/wave_static.h"
#include "gui/common/task_queue.h"
#include "settings/recorder_model.h"

namespace {

// Counts the command blocks written: one per exchange.
class CountingDevice final : public lyr::BlockDevice {
 public:
  CountingDevice(std::unique_ptr<lyr::BlockDevice> inner, std::atomic<uint64_t>& writes)
      : inner_(std::move(inner)), writes_(writes) {}
  bool ReadAt(uint64_t offset, void* buffer, size_t length, size_t* done) override {
    return inner_->ReadAt(offset, buffer, length, done);
  }
  bool WriteAt(uint64_t offset, const void* buffer, size_t length, size_t* done) override {
    ++writes_;
    return inner_->WriteAt(offset, buffer, length, done);
  }

 private:
  std::unique_ptr<lyr::BlockDevice> inner_;
  std::atomic<uint64_t>& writes_;
};

int Fail(const char* what) {
  std::fprintf(stderr, "bench_player_view: %s\n", what);
  return 1;
}

using lyr_bench::WaitUntil;

std::tm Date() {
  std::tm date{};
  lyr_emu::ParseDateTime("2011-08-19T10:20:37", &date);
  return date;
}

struct Stand {
  std::filesystem::path dir;
  std::unique_ptr<lyr_emu::RecorderStore> store;
  std::unique_ptr<lyr_emu::RecorderEmulator> emulator;
  std::atomic<uint64_t> writes{0};
  std::unique_ptr<lyr::RecorderLink> link;

  bool Make() {
    char dir_template[] = "/tmp/lyr-player-bench-XXXXXX";
    if (mkdtemp(dir_template) == nullptr) return false;
    dir = dir_template;
    auto created = lyr_emu::RecorderStore::Create(dir / "store");
    if (!created) return false;
    store = std::move(created).value();
    return true;
  }
  bool Open() {
    emulator = std::make_unique<lyr_emu::RecorderEmulator>(*store);
    link = std::make_unique<lyr::RecorderLink>([this](const std::string&) {
      return lyr::RawDriveOpenResult(std::make_unique<CountingDevice>(emulator->Connect(), writes));
    });
    link->SetSettleDelay(std::chrono::milliseconds(0));
    link->ResetLinkState();
    if (link->OpenLink("stand-in") != 0) return false;
    link->SetDriveOpen(true);
    return link->Identify() == 1 && link->RequestAccess("") == 1;
  }
  ~Stand() {
    link.reset();
    emulator.reset();
    store.reset();
    if (!dir.empty()) std::filesystem::remove_all(dir);
  }
};

int Scroll(int count) {
  Stand stand;
  if (!stand.Make()) return 1;
  const std::filesystem::path data = stand.dir / "data";
  {
    std::FILE* f = std::fopen(data.c_str(), "wb");
    std::vector<uint8_t> bytes(4608, 0);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  stand.store->config().list_capacity = static_cast<uint32_t>(count);
  for (int i = 0; i < count; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "LYR%05d", i);
    const auto record = lyr_emu::MakeRecordingRecord(48000, 1536000, 16, 2, 0x70001, Date(), name, "");
    if (!stand.store->AddRecording(record, data, 0, 4608, 0)) return Fail("a recording could not be added");
  }
  if (!stand.Open()) return Fail("the stand-in could not be reached");
  lyr::TaskQueue worker;
  lyr::CRecordingListCtrl list(*stand.link, worker);
  list.resize(800, 600);
  list.show();
  const uint64_t before = stand.writes;
  list.RefreshRecordings();
  if (!WaitUntil([&] { return !list.Model()->Busy() && list.Model()->rowCount() == count; }, 120000))
    return Fail("the list was not read");
  const uint64_t refresh = stand.writes - before;
  const int page = list.RowsPerPage();
  uint64_t screens = 0, exchanges = 0, most = 0;
  lyr_bench::StallProbe probe;
  probe.Start();
  QScrollBar* bar = list.verticalScrollBar();
  // The scroll range follows the rows once the view has laid them out.
  if (!WaitUntil([&] { return bar->maximum() > 0; }, 10000)) return Fail("the list cannot be scrolled");
  while (bar->value() < bar->maximum()) {
    const uint64_t at = stand.writes;
    bar->setValue(std::min(bar->maximum(), bar->value() + page));
    const int top = list.TopRow();
    if (!WaitUntil([&] { return !list.Model()->Busy() && list.Model()->Row(top).filled; }, 10000))
      return Fail("a screenful was not read");
    const uint64_t took = stand.writes - at;
    exchanges += took;
    most = std::max(most, took);
    ++screens;
  }
  probe.Stop();
  if (screens == 0) return Fail("no screenful was scrolled");
  std::printf("rows %d, rows in view %d, listing %llu exchanges\n", count, page,
              static_cast<unsigned long long>(refresh));
  std::printf("screenfuls %llu, exchanges per screenful %.1f (most %llu), rows read per screenful %.1f\n",
              static_cast<unsigned long long>(screens), static_cast<double>(exchanges) / screens,
              static_cast<unsigned long long>(most), static_cast<double>(exchanges) / screens / 2);
  std::printf(
      "a screenful may read at most rows in view + 5 = %d rows (%d exchanges: record and copied mark)\n",
      page + 5, 2 * (page + 5));
  std::printf("longest GUI stall while scrolling %.0f ms\n", probe.LongestMs());
  return most <= static_cast<uint64_t>(2 * (page + 5)) ? 0 : 1;
}

int Wave(const char* file, uint32_t rate, uint32_t kbits, uint16_t channels) {
  Stand stand;
  if (!stand.Make()) return 1;
  const auto record = lyr_emu::MakeRecordingRecord(rate, kbits * 1000, 16, channels,
                                                   lyr::protocol::kCodecMpegLayer2, Date(), "LYR0001", "");
  const auto entry = stand.store->AddRecording(record, file, 0, std::filesystem::file_size(file), 0);
  if (!entry || !stand.Open()) return 1;
  auto buffer = lyr::PlayerBuffer::BuffMgrCreate(*stand.link);
  struct Quiet : lyr::PlayerNotices {
    void Message(const std::string& text, const std::string&) override {
      std::fprintf(stderr, "%s\n", text.c_str());
    }
    void PlaybackEnded(uint32_t) override {}
  } notices;
  lyr::SoundOutput sound(*stand.link, buffer.get(),
                         std::make_unique<lyr::NullSoundBackend>(lyr::NullSoundBackend::Clock::RealTime),
                         notices);
  sound.InitAudio();
  lyr::TaskQueue worker;  // joins the strip's build once the strip goes
  lyr::CWaveStatic strip(*stand.link, worker);
  strip.resize(1000, 100);
  strip.show();
  if (sound.PlayRecording(entry.value()) != 0) return 1;

  uint32_t least = UINT32_MAX;
  lyr_bench::StallProbe probe([&](double now_ms) {
    if (now_ms > 200) least = std::min(least, buffer->Unread());
  });
  QTimer time6;  // the panel's 100 ms strip update
  time6.setInterval(100);
  QObject::connect(&time6, &QTimer::timeout, [&] {
    double t = 0;
    if (sound.GetCurrentTime(&t) == 0) strip.SetTime(static_cast<int64_t>(t * 1000));
  });
  probe.Start();
  time6.start();
  QElapsedTimer build;
  build.start();
  strip.Load(entry.value());
  if (!WaitUntil([&] { return !strip.Building(); }, 600000)) return 1;
  const double took = build.elapsed() / 1000.0;
  probe.Stop();
  double played = 0;
  sound.GetCurrentTime(&played);
  // Refills that had to stand silence in for late data (the stream lives
  // until the stop below; its counter is safe to read while it plays).
  const unsigned long long underruns = sound.stream() ? sound.stream()->late_refills() : 0;
  sound.StopPlayback();
  std::printf("%.3f %lld %u %.1f %llu\n", took, static_cast<long long>(probe.LongestMs()), least, played,
              underruns);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication qt(argc, argv);
  if (argc >= 3 && std::string(argv[1]) == "scroll") return Scroll(std::atoi(argv[2]));
  if (argc >= 6 && std::string(argv[1]) == "wave")
    return Wave(argv[2], static_cast<uint32_t>(std::atoi(argv[3])), static_cast<uint32_t>(std::atoi(argv[4])),
                static_cast<uint16_t>(std::atoi(argv[5])));
  std::fprintf(stderr, "usage: bench_player_view scroll COUNT | wave FILE.mp2 RATE KBITS CHANNELS\n");
  return 2;
}
