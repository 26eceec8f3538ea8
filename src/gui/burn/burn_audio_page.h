#pragma once
// The "Audio CD" page: the track list, the total time on a 74-minute
// trackbar, and the audio CD job.
#include <cstdint>
#include <vector>

#include "gui/burn/burn_list_ctrl.h"
#include "gui/burn/burn_page.h"

class QLabel;
class QSlider;

namespace lyr {

class CDlgBurnAudio : public CKVBBurnPage {
  Q_OBJECT
 public:
  static constexpr int kMaxSeconds = 4440;   // 74 minutes
  static constexpr int kTickSeconds = 4140;  // 69 minutes
  static constexpr uint64_t kBytesPerSecond = 176400;

  CDlgBurnAudio(const BurnServices& services, QWidget* parent = nullptr);

  // One track from its record: refused when the list holds that recording.
  bool AddTrack(const RecordingRecord& record);
  bool AddRecord(const RecordingRecord& record) override { return AddTrack(record); }
  void DeleteSelected();

  uint32_t TotalSeconds() const { return total_seconds_; }
  int TrackCount() const { return track_count_; }
  QString TotalTimeText() const;
  uint64_t RequiredBytes() const override { return total_seconds_ * kBytesPerSecond; }
  CBurnListBase* Tracks() const { return tracks_; }

 protected:
  QTreeWidget* List() const override;
  bool CdOnly() const override { return true; }
  CBurnProgressDlg::Job MakeJob(uint32_t device, uint32_t disc_kind) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void ShowTotals();

  CBurnListBase* tracks_ = nullptr;
  QSlider* trackbar_ = nullptr;
  QLabel* total_time_ = nullptr;
  std::vector<burn::BURN_FILE> items_;  // in row order
  uint32_t total_seconds_ = 0;
  int track_count_ = 0;
};

}  // namespace lyr
