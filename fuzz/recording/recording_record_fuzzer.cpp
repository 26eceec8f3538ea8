// A recording's record and data come from the recorder, damaged or not: the
// audio CD job's track maker and the waveform's reader must take any record,
// refusing one whose counts are out of bounds, and never read or write past
// a buffer. The first 652 bytes are the record, the rest its data.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

#include "burn/burn_jobs.h"
#include "playback/recording_reader.h"
#include "playback/wave_columns.h"
#include "recordings/recording_record.h"

namespace {

class QuietWindow final : public lyr::burn::BurnReporter {
 public:
  void SetStatus(const std::string&) override {}
  void SetProgress(int) override {}
  void Message(const std::string&, const std::string&, lyr::MessageIcon) override {}
  bool CancelRequested() const override { return false; }
  void ClearLog() override {}
  void AppendLog(const std::string&) override {}
  void Finished(int) override {}
};

constexpr uint32_t kPiece = 65536;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  lyr::RecordingRecord record;
  std::memcpy(record.bytes().data(), data, std::min(size, record.bytes().size()));
  const std::span<const uint8_t> audio =
      size > record.bytes().size()
          ? std::span<const uint8_t>(data + record.bytes().size(), size - record.bytes().size())
          : std::span<const uint8_t>();
  // The data size is kept near the data given so that a run stays short; the
  // layout fields are what is under test.
  record.SetU32(lyr::record::kDataSize,
                static_cast<uint32_t>(std::min<uint64_t>(record.DataSize(), audio.size() + 2 * kPiece)));
  const bool readable = lyr::HasReadableAudio(record);
  (void)lyr::RecordingDurationSeconds(record);

  // The audio CD track, into a file in memory.
  static const int fd = ::memfd_create("track", MFD_CLOEXEC);
  if (fd < 0) std::abort();
  if (::ftruncate(fd, 0) != 0 || ::lseek(fd, 0, SEEK_SET) != 0) std::abort();
  QuietWindow window;
  const bool made = lyr::burn::WriteCdTrack(
      record,
      [&](uint32_t offset, uint8_t* piece) {
        std::memset(piece, 0, kPiece);
        if (offset < audio.size())
          std::memcpy(piece, audio.data() + offset, std::min<size_t>(kPiece, audio.size() - offset));
        return true;
      },
      fd, window);
  if (made && !readable) std::abort();  // a refused layout never makes a track

  // The waveform's reader over the same record and data.
  lyr::RecorderLink link;
  lyr::RecordingReader reader(link);
  record.SetU32(lyr::record::kEntry, 1);
  if (reader.OpenRecord(record) == 0) return 0;
  if (!readable) std::abort();
  std::vector<uint8_t> peaks(2 * 64);
  (void)lyr::ComputePiecePeaks(reader, audio, 0, 0, reader.frame_length(), peaks);
  return 0;
}
