#include "gui/playback/player_view.h"

#include <QAction>
#include <QBoxLayout>
#include <QCoreApplication>
#include <QGridLayout>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cmath>

#include "gui/common/task_queue.h"
#include "gui/playback/level_meter.h"
#include "gui/playback/recording_list.h"
#include "gui/playback/wave_static.h"
#include "link/recorder_link.h"
#include "platform/trace.h"
#include "playback/sdl/sdl_sound_backend.h"

namespace lyr {
namespace {

constexpr int kPositionUpdateMs = 500;
constexpr int kMeterUpdateMs = 50;
constexpr int kWaveCursorUpdateMs = 100;
constexpr int kRewindStepMs = 1400;

// The transport buttons' pictures (icons 163 to 169).
enum class Icon { kPlay, kPause, kStop, kPrev, kNext, kRewind, kForward };

QIcon TransportIcon(Icon icon) {
  QPixmap pixmap(20, 20);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(40, 40, 40));
  auto triangle = [&](double x, bool right) {
    if (right) {
      p.drawPolygon(QPolygonF({QPointF(x, 4), QPointF(x + 8, 10), QPointF(x, 16)}));
    } else {
      p.drawPolygon(QPolygonF({QPointF(x + 8, 4), QPointF(x, 10), QPointF(x + 8, 16)}));
    }
  };
  switch (icon) {
    case Icon::kPlay:
      triangle(6, true);
      break;
    case Icon::kPause:
      p.drawRect(5, 4, 3, 12);
      p.drawRect(12, 4, 3, 12);
      break;
    case Icon::kStop:
      p.drawRect(5, 5, 10, 10);
      break;
    case Icon::kPrev:
      p.drawRect(4, 4, 2, 12);
      triangle(7, false);
      break;
    case Icon::kNext:
      triangle(5, true);
      p.drawRect(14, 4, 2, 12);
      break;
    case Icon::kRewind:
      triangle(2, false);
      triangle(10, false);
      break;
    case Icon::kForward:
      triangle(2, true);
      triangle(10, true);
      break;
  }
  return QIcon(pixmap);
}

QPushButton* TransportButton(const char* name, const char* text, Icon icon, QWidget* parent) {
  auto* button = new QPushButton(parent);
  button->setObjectName(name);
  button->setToolTip(text);
  button->setAccessibleName(text);
  button->setIcon(TransportIcon(icon));
  button->setFocusPolicy(Qt::NoFocus);
  return button;
}

}  // namespace

// What the sound output tells the view, passed to the GUI thread. An end
// notice names the start it belongs to, so that one arriving after the next
// start cannot stop it.
// The sound output's notices come from its own threads. They are handed to
// the application object and reach the view only if it is still there: the
// guard is made on the GUI thread and read only there.
class CPlayerView::Notices final : public PlayerNotices {
 public:
  explicit Notices(CPlayerView* view) : view_(view) {}
  void Message(const std::string& text, const std::string& caption) override {
    QMetaObject::invokeMethod(
        qApp,
        [view = view_, text, caption] {
          if (view.isNull()) return;
          QMessageBox box(QMessageBox::Critical, QString::fromStdString(caption),
                          QString::fromStdString(text), QMessageBox::Ok, view.data());
          box.exec();
        },
        Qt::QueuedConnection);
  }
  void PlaybackEnded(uint32_t error) override {
    Trace("player: playback ended (%u)\n", error);
    QMetaObject::invokeMethod(
        qApp,
        [view = view_, ticket = ticket_.load()] {
          if (!view.isNull() && ticket == view->ticket_) view->OnPlaybackEnded();
        },
        Qt::QueuedConnection);
  }
  std::atomic<uint64_t> ticket_{0};

 private:
  const QPointer<CPlayerView> view_;
};

CPlayerView::CPlayerView(RecorderLink& link, TaskQueue& worker, TaskQueue& player_worker,
                         RecorderModel& model, PlayerBuffer* player_buffer,
                         std::unique_ptr<SoundBackend> backend, QWidget* parent)
    : QWidget(parent),
      link_(link),
      worker_(worker),
      player_worker_(player_worker),
      model_(model),
      notices_(std::make_unique<Notices>(this)) {
  setObjectName("playerView");
  if (backend == nullptr) {
    std::string why;
    backend = ChooseSoundBackend(&why);
    if (!why.empty()) Trace("player: %s\n", why.c_str());
  }
  sound_ = std::make_unique<SoundOutput>(link, player_buffer, std::move(backend), *notices_);
  list_ = new CRecordingListCtrl(link, worker, this);
  BuildControls();
  // Start-up: primary volume full, the sound device ready.
  PlayerControl player(*sound_);
  (void)player.SetVolume(0);
  (void)player.InitAudio();
  model_.AddListener(this);
}

CPlayerView::~CPlayerView() {
  model_.RemoveListener(this);
  position_timer_->stop();
  meter_timer_->stop();
  wave_timer_->stop();
  rewind_timer_->stop();
  if (wave_ != nullptr) wave_->Release();
  ++ticket_;
  // The sound output and its notices go with the last task: the starts and
  // seeks queued before it still use them, and the window does not wait.
  std::shared_ptr<SoundOutput> sound(std::move(sound_));
  std::shared_ptr<Notices> notices(std::move(notices_));
  player_worker_.Post([sound, notices] {
    sound->StopPlayback();
    sound->ShutdownAudio();
  });
}

void CPlayerView::BuildControls() {
  play_ = TransportButton("playButton", "Play", Icon::kPlay, this);
  stop_ = TransportButton("stopButton", "Stop", Icon::kStop, this);
  prev_ = TransportButton("prevButton", "Prev", Icon::kPrev, this);
  fr_ = TransportButton("frButton", "FR", Icon::kRewind, this);
  ff_ = TransportButton("ffButton", "FF", Icon::kForward, this);
  next_ = TransportButton("nextButton", "Next", Icon::kNext, this);
  action_ = new QPushButton("Add to Burn List", this);
  action_->setObjectName("actionButton");

  speed_ = new QSlider(Qt::Horizontal, this);
  speed_->setObjectName("speedSlider");
  speed_->setRange(5, 20);
  speed_->setTickPosition(QSlider::TicksBelow);
  // Ticks count from the minimum: every 25 % puts one at 100 %.
  speed_->setTickInterval(5);
  speed_->setValue(10);
  speed_->setToolTip("Playback speed");
  volume_ = new QSlider(Qt::Horizontal, this);
  volume_->setObjectName("volumeSlider");
  volume_->setRange(0, 5000);
  volume_->setValue(5000);
  volume_->setToolTip("Volume");
  position_ = new QSlider(Qt::Horizontal, this);
  position_->setObjectName("positionSlider");
  position_->setRange(0, 0);
  position_->setEnabled(false);
  time_text_ = new QLabel(FormatReadout(0, 0), this);
  time_text_->setObjectName("timeText");
  speed_text_ = new QLabel("100%", this);
  speed_text_->setObjectName("speedText");
  wave_ = new CWaveStatic(link_, worker_, this);
  wave_->setMinimumHeight(90);
  meter_ = new CLevelMeter(this);
  meter_->setMinimumSize(160, 36);

  auto* transport = new QHBoxLayout;
  for (QPushButton* b : {play_, stop_, prev_, fr_, ff_, next_}) transport->addWidget(b);
  transport->addSpacing(12);
  transport->addWidget(position_, 1);
  transport->addWidget(time_text_);

  auto* sliders = new QGridLayout;
  sliders->addWidget(new QLabel("Playback speed", this), 0, 0);
  sliders->addWidget(speed_, 0, 1);
  sliders->addWidget(speed_text_, 0, 2);
  sliders->addWidget(new QLabel("Volume", this), 1, 0);
  sliders->addWidget(volume_, 1, 1);
  auto* lower = new QHBoxLayout;
  lower->addLayout(sliders, 1);
  lower->addWidget(meter_);
  lower->addWidget(action_);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(list_, 1);
  layout->addWidget(wave_);
  layout->addLayout(transport);
  layout->addLayout(lower);

  auto make_timer = [this](int ms, void (CPlayerView::*slot)()) {
    auto* timer = new QTimer(this);
    timer->setInterval(ms);
    connect(timer, &QTimer::timeout, this, slot);
    return timer;
  };
  position_timer_ = make_timer(kPositionUpdateMs, &CPlayerView::UpdatePosition);
  meter_timer_ = make_timer(kMeterUpdateMs, &CPlayerView::UpdateMeter);
  wave_timer_ = make_timer(kWaveCursorUpdateMs, &CPlayerView::UpdateWaveCursor);
  rewind_timer_ = make_timer(kRewindStepMs, &CPlayerView::RewindStep);

  connect(play_, &QPushButton::clicked, this, &CPlayerView::PlayPause);
  connect(stop_, &QPushButton::clicked, this, &CPlayerView::StopPlayback);
  connect(next_, &QPushButton::clicked, this, &CPlayerView::Next);
  connect(prev_, &QPushButton::clicked, this, &CPlayerView::Prev);
  connect(ff_, &QPushButton::pressed, this, &CPlayerView::OnFfPressed);
  connect(ff_, &QPushButton::released, this, &CPlayerView::OnFfReleased);
  connect(fr_, &QPushButton::pressed, this, &CPlayerView::OnFrPressed);
  connect(fr_, &QPushButton::released, this, &CPlayerView::OnFrReleased);
  connect(action_, &QPushButton::clicked, this, &CPlayerView::OnActionButton);
  connect(speed_, &QSlider::valueChanged, this, [this](int s) {
    (void)PlayerControl(*sound_).SetSpeedPercent(s * 10);
    speed_text_->setText(QString::asprintf("%d%%", s * 10));
  });
  connect(volume_, &QSlider::valueChanged, this,
          [this](int v) { (void)PlayerControl(*sound_).SetVolume(v - 5000); });
  connect(position_, &QSlider::sliderMoved, this, [this](int p) {
    if (state_ == State::kStopped) return;
    position_update_ = false;
    time_text_->setText(FormatReadout(p, total_seconds_));
  });
  connect(position_, &QSlider::sliderReleased, this, [this] {
    if (state_ == State::kStopped) return;
    position_update_ = true;
    SeekTo(position_->value());
  });
  connect(position_, &QSlider::actionTriggered, this, &CPlayerView::OnPositionAction);
  connect(list_->Model(), &CRecordingListModel::refreshed, this, [this](bool ok) {
    if (!ok || list_->Model()->rowCount() == 0) return;
    // Where the first row is, for runs that click it on a virtual display.
    const QRect cell = list_->visualRect(list_->Model()->index(0, CRecordingListModel::kIndex));
    const QPoint at = list_->viewport()->mapToGlobal(cell.center());
    Trace("player: %d rows, the first at %d,%d, %d high\n", list_->Model()->rowCount(), at.x(), at.y(),
          cell.height());
  });
  connect(list_, &CRecordingListCtrl::itemDoubleClicked, this, &CPlayerView::PlayItem);
  connect(list_, &CRecordingListCtrl::spacePressed, this, &CPlayerView::PlayPause);
  connect(list_, &CRecordingListCtrl::contextMenuAt, this, [this](int row, QPoint global) {
    QMenu* menu = BuildContextMenu(row);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(global);
  });

  // The menus' keys.
  struct Key {
    const char* name;
    const char* keys;
    void (CPlayerView::*slot)();
  };
  const Key keys[] = {{"playKey", "Ctrl+P", &CPlayerView::OnPlay},
                      {"copyKey", "Ctrl+C", &CPlayerView::OnCopy},
                      {"copyAllKey", "Ctrl+A", &CPlayerView::OnCopyAll},
                      {"deleteKey", "Ctrl+X", &CPlayerView::OnDelete},
                      {"deleteAllKey", "Ctrl+D", &CPlayerView::OnDeleteAll},
                      {"addToBurnListKey", "Ctrl+B", &CPlayerView::OnAddToBurnList},
                      {"menuModeKey", "Ctrl+Shift+M", &CPlayerView::OnMenuMode}};
  for (const Key& key : keys) {
    auto* action = new QAction(this);
    action->setObjectName(key.name);
    action->setShortcut(QKeySequence(key.keys));
    action->setShortcutContext(Qt::WindowShortcut);
    connect(action, &QAction::triggered, this, key.slot);
    addAction(action);
  }
}

QString CPlayerView::FormatReadout(int seconds, int total) {
  return QString::asprintf("%02d:%02d:%02d / %02d:%02d:%02d", seconds / 3600, seconds % 3600 / 60,
                           seconds % 60, total / 3600, total % 3600 / 60, total % 60);
}

int CPlayerView::CurrentItem() const { return list_->HotItem(); }

void CPlayerView::SetPlayIcon(bool pause_icon) {
  play_->setIcon(TransportIcon(pause_icon ? Icon::kPause : Icon::kPlay));
  play_->setProperty("iconId", pause_icon ? 169 : 163);
}

std::vector<uint32_t> CPlayerView::SelectedEntries() const {
  std::vector<uint32_t> entries;
  for (int row : list_->SelectedRows()) entries.push_back(list_->Model()->Entry(row));
  return entries;
}

RecordingSelection CPlayerView::Selection() const {
  RecordingSelection selection;
  const auto name_of = [](const RecordingRow& r) {
    return r.filled ? QString::fromStdString(r.name) : QString("entry %1").arg(r.entry);
  };
  const CRecordingListModel* model = list_->Model();
  const std::vector<int> rows = list_->SelectedRows();
  for (int row : rows) {
    const RecordingRow& r = model->Row(row);
    SelectedRecording item;
    item.known = r.filled;
    item.copied = r.copied;
    item.name = name_of(r);
    selection.acted_on.push_back(item);
  }
  for (int row = 0; row < model->rowCount(); ++row) {
    if (!model->Checked(row) || std::binary_search(rows.begin(), rows.end(), row)) continue;
    selection.ticked_left << name_of(model->Row(row));
  }
  return selection;
}

void CPlayerView::SelectAllItems() { list_->selectAll(); }

void CPlayerView::RemoveEntries(const std::vector<uint32_t>& done) {
  const int hot = list_->HotItem();
  const uint32_t hot_entry = hot >= 0 ? list_->Model()->Entry(hot) : 0;
  list_->Model()->RemoveEntries(done);
  list_->SetHotItem(hot >= 0 ? list_->Model()->FindEntry(hot_entry) : -1);
  list_->FillVisibleRows();
}

void CPlayerView::RedrawList() {
  if (link_.IsDriveOpen() && !link_.IsRecorderRefused()) list_->RereadRows();
}

void CPlayerView::SetPanelPage(bool copy_page) {
  copy_page_ = copy_page;
  action_->setText(copy_page_ ? "Copy && save" : "Add to Burn List");
}

int CPlayerView::MenuKind() const {
  if (menu_mode_) return kPlaylistMenu;
  return copy_page_ ? kPlaylistCopyMenu : kPlaylistBurnMenu;
}

void CPlayerView::Show() {
  // The document changed: the list is read again while a usable recorder is
  // linked. The rows stay shown meanwhile, and the checks, the marks, the
  // selection and the current item stay with their recordings (a clock or
  // file type change, the end of a delete); without one it is emptied.
  if (!link_.IsDriveOpen()) StopPlayback();
  if (link_.IsDriveOpen() && !link_.IsRecorderRefused()) {
    list_->RereadRows();
    return;
  }
  list_->Model()->DeleteAllRows();
  list_->SetHotItem(-1);
}

// ---- transport -----------------------------------------------------------

void CPlayerView::PlayCurrent() {
  if (list_->HotItem() < 0) list_->SetHotItem(0);
  const int row = list_->HotItem();
  if (row < 0) return;  // empty list
  const uint32_t entry = list_->Model()->Entry(row);
  StopPlayback();
  entry_ = entry;
  start_pending_ = true;
  const uint64_t ticket = ++ticket_;
  SoundOutput* sound = sound_.get();
  Notices* notices = notices_.get();
  QPointer<CPlayerView> self(this);
  player_worker_.Post([self, sound, notices, ticket, entry] {
    notices->ticket_ = ticket;
    const int result = PlayerControl(*sound).PlayRecording(entry) ? 0 : 1;
    QMetaObject::invokeMethod(
        qApp,
        [self, ticket, entry, result] {
          if (!self.isNull()) self->OnPlayStarted(ticket, entry, result);
        },
        Qt::QueuedConnection);
  });
}

void CPlayerView::OnPlayStarted(uint64_t ticket, uint32_t entry, int result) {
  if (ticket != ticket_) return;  // stopped or replaced meanwhile
  start_pending_ = false;
  ever_played_ = true;
  Trace("player: start of %08X gave %d\n", entry, result);
  if (result != 0) {
    state_ = State::kStopped;
    emit playStarted(false);
    return;
  }
  state_ = State::kPlaying;
  SetPlayIcon(true);
  list_->Model()->SetMark(list_->Model()->FindEntry(entry), CRecordingListModel::kPlayingMark);
  const Result<double> duration = PlayerControl(*sound_).GetDuration();
  total_seconds_ = duration ? static_cast<int>(duration.value() + 0.5) : 0;
  position_->setRange(0, total_seconds_);
  position_->setValue(0);
  position_->setEnabled(true);
  position_update_ = true;
  time_text_->setText(FormatReadout(0, total_seconds_));
  if (const int row = list_->Model()->FindEntry(entry); row >= 0 && list_->Model()->Row(row).filled) {
    RecordingRecord record = list_->Model()->Row(row).record;
    const RecordingDate date = RecordingDateTime(&record);
    wave_->SetStartSeconds(date.hour * 3600 + date.minute * 60 + date.second);
  }
  wave_->Load(entry, CWaveStatic::kWindowMs);
  position_timer_->start();
  meter_timer_->start();
  wave_timer_->start();
  emit playStarted(true);
}

void CPlayerView::StopPlayback() {
  SetPlayIcon(false);
  position_timer_->stop();
  meter_timer_->stop();
  wave_timer_->stop();
  const bool was_active = state_ != State::kStopped || start_pending_;
  state_ = State::kStopped;
  start_pending_ = false;
  seek_pending_ = false;
  position_->setEnabled(false);
  position_->setValue(0);
  time_text_->setText(FormatReadout(0, 0));
  meter_->SetPeaks(0, 0);
  list_->Model()->SetMark(-1, CRecordingListModel::kNoMark);
  if (!was_active) return;
  Trace("player: stopped\n");
  ++ticket_;  // a start or an end notice still on its way counts no more
  SoundOutput* sound = sound_.get();
  player_worker_.Post([sound] { sound->StopPlayback(); });
}

void CPlayerView::OnPlaybackEnded() {
  if (state_ != State::kStopped) StopPlayback();
}

void CPlayerView::PlayPause() {
  if (start_pending_) return;
  if (!ever_played_) {
    const std::vector<int> selected = list_->SelectedRows();
    if (list_->HotItem() < 0 && !selected.empty()) list_->SetHotItem(selected.front());
    PlayCurrent();
    return;
  }
  const int row = list_->Model()->FindEntry(entry_);
  switch (state_) {
    case State::kStopped:
      PlayCurrent();
      break;
    case State::kPlaying:
      SetPlayIcon(false);
      list_->Model()->SetMark(row, CRecordingListModel::kPausedMark);
      (void)PlayerControl(*sound_).Pause();
      state_ = State::kPaused;
      Trace("player: paused\n");
      break;
    case State::kPaused:
      SetPlayIcon(true);
      list_->Model()->SetMark(row, CRecordingListModel::kPlayingMark);
      (void)PlayerControl(*sound_).Resume();
      state_ = State::kPlaying;
      break;
  }
}

void CPlayerView::Next() {
  const int count = list_->Model()->rowCount();
  if (list_->HotItem() < 0) list_->SetHotItem(count > 0 ? 0 : -1);
  const int hot = list_->HotItem();
  if (hot < 0 || hot + 1 >= count) {
    StopPlayback();
    return;
  }
  list_->SetHotItem(hot + 1);
  PlayCurrent();
}

void CPlayerView::Prev() {
  if (list_->HotItem() < 0 && list_->Model()->rowCount() > 0) list_->SetHotItem(0);
  PlayCurrent();
}

void CPlayerView::PlayItem(int row) {
  if (row < 0 || row >= list_->Model()->rowCount()) return;
  list_->SetHotItem(row);
  list_->Model()->SetCheck(row, true);
  PlayCurrent();
}

void CPlayerView::SeekTo(int seconds) {
  if (state_ == State::kStopped || start_pending_) return;
  wave_->SetTime(static_cast<int64_t>(seconds) * 1000);
  seek_pending_ = true;
  const uint64_t ticket = ticket_;
  SoundOutput* sound = sound_.get();
  QPointer<CPlayerView> self(this);
  player_worker_.Post([self, sound, seconds, ticket] {
    (void)PlayerControl(*sound).SeekTime(seconds);
    QMetaObject::invokeMethod(
        qApp,
        [self, ticket] {
          if (!self.isNull() && ticket == self->ticket_) self->seek_pending_ = false;
        },
        Qt::QueuedConnection);
  });
}

void CPlayerView::OnPositionAction(int action) {
  // Clicks on the groove and keys move the position at once; the thumb's
  // drag seeks once, when it is let go.
  if (action == QAbstractSlider::SliderMove || action == QAbstractSlider::SliderNoAction) return;
  if (state_ == State::kStopped) return;
  position_update_ = true;
  SeekTo(position_->sliderPosition());
}

void CPlayerView::UpdatePosition() {
  if (start_pending_ || seek_pending_ || state_ == State::kStopped) return;
  PlayerControl player(*sound_);
  const Result<double> d = player.GetDuration();
  const Result<double> t = d ? player.GetCurrentTime() : Result<double>(d.error());
  if (!t || !position_update_) return;
  const int now = static_cast<int>(t.value() + 0.5);
  total_seconds_ = static_cast<int>(d.value() + 0.5);
  if (now != position_->value()) Trace("player: at %d of %d s\n", now, total_seconds_);
  position_->setValue(now);
  time_text_->setText(FormatReadout(now, total_seconds_));
}

void CPlayerView::UpdateMeter() {
  PlayerControl::Peaks peaks;
  // Paused, nothing sounds: the meter falls instead of keeping the last peaks.
  if (!start_pending_ && !seek_pending_ && state_ == State::kPlaying && position_update_)
    peaks = PlayerControl(*sound_).GetPeaks().value_or({});
  meter_->SetPeaks(peaks.left, peaks.right);
}

void CPlayerView::UpdateWaveCursor() {
  if (start_pending_ || seek_pending_ || state_ == State::kStopped) return;
  if (const Result<double> t = PlayerControl(*sound_).GetCurrentTime())
    wave_->SetTime(static_cast<int64_t>(t.value() * 1000));
}

void CPlayerView::RewindStep() {
  if (state_ != State::kPlaying || start_pending_ || seek_pending_) return;
  const Result<double> t = PlayerControl(*sound_).GetCurrentTime();
  if (!t) return;
  SeekTo(std::max(0, static_cast<int>(t.value()) - 3));
}

void CPlayerView::OnFfPressed() {
  if (state_ == State::kStopped || start_pending_) return;
  (void)PlayerControl(*sound_).SetSpeedPercent(200);
}

void CPlayerView::OnFfReleased() {
  if (state_ == State::kStopped || start_pending_) return;
  (void)PlayerControl(*sound_).SetSpeedPercent(100);
}

void CPlayerView::OnFrPressed() {
  if (state_ == State::kStopped || start_pending_) return;
  rewind_timer_->start();
}

void CPlayerView::OnFrReleased() {
  rewind_timer_->stop();
  if (state_ == State::kStopped || start_pending_) return;
  (void)PlayerControl(*sound_).SetSpeedPercent(100);
}

// ---- commands ------------------------------------------------------------

void CPlayerView::OnActionButton() {
  if (list_->SelectedRows().empty()) return;
  StopPlayback();
  if (copy_page_) {
    emit copyRequested(SelectedEntries());
  } else {
    emit addToBurnListRequested(SelectedEntries());
  }
}

void CPlayerView::Deleting(bool all) {
  if (!DeleteAllowed()) return;
  if (all) SelectAllItems();
  StopPlayback();
  emit deleteRequested(SelectedEntries());
}

void CPlayerView::OnPlay() { PlayPause(); }
void CPlayerView::OnCopy() { emit copyRequested(SelectedEntries()); }

void CPlayerView::OnCopyAll() {
  SelectAllItems();
  emit copyRequested(SelectedEntries());
}

void CPlayerView::OnDelete() { Deleting(false); }
void CPlayerView::OnDeleteAll() { Deleting(true); }
void CPlayerView::OnAddToBurnList() { emit addToBurnListRequested(SelectedEntries()); }
void CPlayerView::OnMenuMode() { menu_mode_ = !menu_mode_; }

QMenu* CPlayerView::BuildContextMenu(int row) {
  if (row >= 0) list_->SetHotItem(row);
  const int kind = MenuKind();
  auto* menu = new QMenu(this);
  menu->setObjectName(kind == kPlaylistBurnMenu   ? "PLAYLIST_BURN"
                      : kind == kPlaylistCopyMenu ? "PLAYLIST_COPY"
                                                  : "PLAYLIST");
  const bool selected = !list_->SelectedRows().empty();
  const bool may_delete = DeleteAllowed();
  const auto add = [&](const char* name, const char* text, void (CPlayerView::*slot)(), bool enabled) {
    QAction* action = menu->addAction(QString(text));
    action->setObjectName(name);
    action->setEnabled(enabled);
    connect(action, &QAction::triggered, this, slot);
  };
  add("play", "Play\tCtrl + P", &CPlayerView::OnPlay, selected);
  if (kind != kPlaylistBurnMenu) {
    add("copy", "Copy && Save\tCtrl + C", &CPlayerView::OnCopy, selected);
    add("copyAll", "Copy all && Save\tCtrl + A", &CPlayerView::OnCopyAll, selected);
  }
  if (kind != kPlaylistCopyMenu)
    add("addToBurnList", "Add to Burn-list\tCtrl + B", &CPlayerView::OnAddToBurnList, selected);
  menu->addSeparator();
  add("delete", "Delete\tCtrl + X", &CPlayerView::OnDelete, selected && may_delete);
  add("deleteAll", "Delete all\tCtrl + D", &CPlayerView::OnDeleteAll, selected && may_delete);
  return menu;
}

}  // namespace lyr
