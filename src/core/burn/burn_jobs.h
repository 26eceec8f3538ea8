#pragma once
// The audio CD and data disc burn jobs. Each runs on the worker thread of the
// "Burning" progress window, downloads the recordings into temporary files,
// hands them to the burner tool runner, polls the burn to its end, marks the
// recordings copied and deletes every temporary file it made, on every path.
// It ends exactly once with the finished notice and returns its result: 1 when
// it ended without user abort, 0 when aborted or failed early.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "burn/burn_runner.h"
#include "burn/burn_tree.h"
#include "burn/sample_rate_converter.h"
#include "job/job_reporter.h"
#include "link/recorder_link.h"
#include "recordings/recording_record.h"
#include "transfer/transfer_jobs.h"

namespace lyr::burn {

// The message the job sends its window when it has ended.
inline constexpr uint32_t WM_BURN_FINISHED = 0x801F;

// The "Burning" window as a job sees it: status, progress, message boxes
// (all with the warning icon), the cancel flag, and its log.
class BurnReporter : public JobReporter {
 public:
  void SetFileProgress(int /*percent*/) override {}
  bool Ask(const std::string& /*text*/, const std::string& /*caption*/) override { return false; }
  virtual void ClearLog() = 0;
  virtual void AppendLog(const std::string& text) = 0;
  // WM_BURN_FINISHED with the job's result.
  virtual void Finished(int result) = 0;
};

// How a job ended, beyond its 1/0 result: only `burned` means the disc (or
// the image) was written and every recording marked copied.
struct BurnJobResult {
  BurnJobResult() = default;
  BurnJobResult(int result_, bool burned_) : result(result_), burned(burned_) {}
  int result = 0;
  bool burned = false;
  // The writer finished the disc, also when the copied marks then failed.
  bool written = false;
  // What the tools said when the burn failed, on one line (OneLine).
  std::string errors;
  // Disc names too long for the disc, shortened (the data disc).
  std::vector<ShortenedName> shortened;
};

// Gives the recording's data a piece at a time: 65,536 bytes from `offset`
// into `piece` (bytes past the recording's end are not used).
using CdTrackPieceReader = std::function<bool(uint32_t offset, uint8_t* piece)>;

// One recording as the audio CD job makes its track: a CD-format WAVE file
// (44-byte header, 16-bit stereo at 44,100 Hz) written to `fd`, which must
// be able to seek. False when the record's audio is out of bounds
// (HasReadableAudio), or a read or a write failed.
bool WriteCdTrack(const RecordingRecord& record, const CdTrackPieceReader& read, int fd, BurnReporter& window,
                  CdConverter converter = CdConverter::Soxr);

struct AudioCdJob {
  std::string temp_folder;
  std::vector<BURN_FILE> items;  // one per track, in order; a recording may repeat
  uint32_t device = 0;
  CdConverter converter = CdConverter::Soxr;  // for rates other than 44,100 Hz
};

// Downloads every item as a 44,100 Hz 16-bit stereo WAVE file (decoding
// MPEG-1 Layer II, converting other rates and PCM layouts) and burns them as
// one track each.
BurnJobResult RunAudioCdJob(RecorderLink& link, BurnRunner& runner, const AudioCdJob& job,
                            BurnReporter& window);

struct DataDiscJob {
  std::string temp_folder;
  std::vector<BURN_FILE> files;  // CBurnTree::CollectFiles
  uint32_t device = 0;
  std::string volume_label;
  uint32_t disc_kind = 0;
  ExportFormat mpeg_format = ExportFormat::Bwf;
  ExportFormat pcm_format = ExportFormat::Bwf;
  bool output_sha1 = false;
  std::string device_id;  // the recorder's id, for BWF headers
  // Not empty: write an ISO 9660 image file instead of a disc. It is written
  // under a temporary name beside it and takes this name only when complete;
  // a file of this name is replaced.
  std::string image_path;
};

// Downloads every file in its export format (with its ".txt" SHA-1 digest on
// request) and burns the layout as a data disc, or writes it as an image. A
// volume label longer than kMaxVolumeLabel ends the job before anything is
// downloaded; names longer than the disc takes are shortened and logged.
BurnJobResult RunDataDiscJob(RecorderLink& link, BurnRunner& runner, const DataDiscJob& job,
                             BurnReporter& window);

}  // namespace lyr::burn
