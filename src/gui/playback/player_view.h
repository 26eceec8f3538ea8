#pragma once
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "gui/common/recording_selection.h"
#include "playback/sound_output.h"
#include "settings/recorder_model.h"

class QAction;
class QLabel;
class QMenu;
class QPushButton;
class QSlider;
class QTimer;

namespace lyr {

class CLevelMeter;
class CRecordingListCtrl;
class CWaveStatic;
class TaskQueue;
class PlayerBuffer;
class RecorderLink;
class SoundBackend;

// Menus of the play list.
inline constexpr int kPlaylistBurnMenu = 220;
inline constexpr int kPlaylistCopyMenu = 221;
inline constexpr int kPlaylistMenu = 222;

// The main window's client: the play list over the transport buttons, the
// position, speed and volume sliders, the level meter, the waveform strip
// and the action button. Every start, seek and stop of playback runs on the
// application's player queue, so the GUI thread never waits for the
// recorder's first data, nor for the sound to stop when the view closes.
class CPlayerView : public QWidget, public ModelListener {
  Q_OBJECT
 public:
  enum class State { kStopped, kPlaying, kPaused };

  // `player_buffer` may be null (nothing plays); `backend` null takes the
  // program's sound back end. `player_worker` must outlive the view and be
  // joined before `player_buffer` goes: the view's last task stops the sound.
  CPlayerView(RecorderLink& link, TaskQueue& worker, TaskQueue& player_worker, RecorderModel& model,
              PlayerBuffer* player_buffer, std::unique_ptr<SoundBackend> backend, QWidget* parent = nullptr);
  ~CPlayerView() override;

  // Whether the user may delete recordings (administrator, or the rights
  // mask's delete bit); asked when the menu opens and when a key deletes.
  void SetDeleteAllowed(std::function<bool()> allowed) { delete_allowed_ = std::move(allowed); }

  std::vector<uint32_t> SelectedEntries() const;
  // The highlighted rows by name and copied mark, and the ticked rows that
  // are not highlighted (what a copy or a delete leaves alone).
  RecordingSelection Selection() const;
  void SelectAllItems();
  void StopPlayback();
  void RemoveEntries(const std::vector<uint32_t>& done);
  // After a copy: the rows are read again (their copied marks changed).
  void RedrawList();
  // Whether the Copy/Burn panel shows its copy page (else a burn page).
  void SetPanelPage(bool copy_page);

  // The play / pause toggle and the other transport actions.
  void PlayPause();
  void Next();
  void Prev();
  void PlayItem(int row);  // the double click
  // The context menu for the item at `row` (−1: none), built and greyed
  // as it would open; the caller opens or inspects it.
  QMenu* BuildContextMenu(int row);

  State PlayState() const { return state_; }
  bool StartPending() const { return start_pending_; }
  int MenuKind() const;
  CRecordingListCtrl* List() const { return list_; }
  SoundOutput& Sound() { return *sound_; }
  CWaveStatic* Wave() const { return wave_; }
  CLevelMeter* Meter() const { return meter_; }
  // While playing: the position readout, the level meter and the waveform's
  // cursor follow the sound; while Rewind is held the rewind steps back.
  QTimer* PositionTimer() const { return position_timer_; }
  QTimer* MeterTimer() const { return meter_timer_; }
  QTimer* WaveTimer() const { return wave_timer_; }
  QTimer* RewindTimer() const { return rewind_timer_; }
  // "%02d:%02d:%02d / %02d:%02d:%02d".
  static QString FormatReadout(int seconds, int total);

  // ModelListener: the document was refreshed (recorder linked or gone,
  // format, settings): the list is emptied and read again.
  void LoadFromModel() override {}
  void Prepare() override {}
  void Show() override;

 public slots:
  // The commands of the play list's menus and keys.
  void OnPlay();
  void OnCopy();
  void OnCopyAll();
  void OnDelete();
  void OnDeleteAll();
  void OnAddToBurnList();
  void OnMenuMode();

 signals:
  void copyRequested(std::vector<uint32_t> entries);
  void deleteRequested(std::vector<uint32_t> entries);
  void addToBurnListRequested(std::vector<uint32_t> entries);
  // A start of playback ended (for tests and traces): 0 when it plays.
  void playStarted(bool started);

 private:
  class Notices;

  void BuildControls();
  void PlayCurrent();
  void OnPlayStarted(uint64_t ticket, uint32_t entry, int result);
  void OnPlaybackEnded();
  void SeekTo(int seconds);
  void SetPlayIcon(bool pause_icon);
  void UpdatePosition();
  void UpdateMeter();
  void UpdateWaveCursor();
  void RewindStep();
  void OnFfPressed();
  void OnFfReleased();
  void OnFrPressed();
  void OnFrReleased();
  void OnPositionAction(int action);
  void OnActionButton();
  void Deleting(bool all);
  bool DeleteAllowed() const { return !delete_allowed_ || delete_allowed_(); }
  int CurrentItem() const;

  RecorderLink& link_;
  TaskQueue& worker_;         // the application's
  TaskQueue& player_worker_;  // the application's: starts, seeks and stops, in the order asked
  RecorderModel& model_;
  std::unique_ptr<Notices> notices_;
  std::unique_ptr<SoundOutput> sound_;
  std::function<bool()> delete_allowed_;

  CRecordingListCtrl* list_ = nullptr;
  QPushButton* play_ = nullptr;
  QPushButton* stop_ = nullptr;
  QPushButton* prev_ = nullptr;
  QPushButton* fr_ = nullptr;
  QPushButton* ff_ = nullptr;
  QPushButton* next_ = nullptr;
  QPushButton* action_ = nullptr;
  QSlider* speed_ = nullptr;
  QSlider* volume_ = nullptr;
  QSlider* position_ = nullptr;
  QLabel* time_text_ = nullptr;
  QLabel* speed_text_ = nullptr;
  CWaveStatic* wave_ = nullptr;
  CLevelMeter* meter_ = nullptr;
  QTimer* position_timer_ = nullptr;
  QTimer* meter_timer_ = nullptr;
  QTimer* wave_timer_ = nullptr;
  QTimer* rewind_timer_ = nullptr;

  State state_ = State::kStopped;
  bool ever_played_ = false;  // a streaming buffer exists since the first play
  bool start_pending_ = false;
  bool seek_pending_ = false;
  uint64_t ticket_ = 0;  // the newest start; older results are stale
  uint32_t entry_ = 0;   // the recording last started
  bool position_update_ = true;
  bool menu_mode_ = false;
  bool copy_page_ = false;
  int total_seconds_ = 0;
};

}  // namespace lyr
