#include "playback/ui/player_view.h"

#include <QAction>
#include <QBoxLayout>
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

#include "link/recorder_link.h"
#include "platform/trace.h"
#include "playback/sdl/sdl_sound_backend.h"
#include "playback/ui/level_meter.h"
#include "playback/ui/recording_list.h"
#include "playback/ui/wave_static.h"
#include "gui/common/task_queue.h"

namespace lyr {
namespace {

constexpr int kTimer2Ms = 500;
constexpr int kTimer4Ms = 50;
constexpr int kTimer6Ms = 100;
constexpr int kTimer8Ms = 1400;

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
class CPlayerView::Notices final : public PlayerNotices {
 public:
  explicit Notices(CPlayerView* view) : view_(view) {}
  void Message(const std::string& text, const std::string& caption) override {
    QPointer<CPlayerView> view(view_);
    QMetaObject::invokeMethod(
        view_,
        [view, text, caption] {
          if (view.isNull()) return;
          QMessageBox box(QMessageBox::Critical, QString::fromStdString(caption),
                          QString::fromStdString(text), QMessageBox::Ok, view.data());
          box.exec();
        },
        Qt::QueuedConnection);
  }
  void PlaybackEnded(uint32_t error) override {
    Trace("player: playback ended (%u)\n", error);
    const uint64_t ticket = ticket_.load();
    QPointer<CPlayerView> view(view_);
    QMetaObject::invokeMethod(
        view_,
        [view, ticket] {
          if (!view.isNull() && ticket == view->ticket_) view->OnPlaybackEnded();
        },
        Qt::QueuedConnection);
  }
  std::atomic<uint64_t> ticket_{0};

 private:
  CPlayerView* view_;
};

CPlayerView::CPlayerView(RecorderLink& link, TaskQueue& worker, RecorderModel& model,
                         PlayerBuffer* player_buffer, std::unique_ptr<SoundBackend> backend, QWidget* parent)
    : QWidget(parent), link_(link), model_(model), notices_(std::make_unique<Notices>(this)) {
  setObjectName("playerView");
  if (backend == nullptr) {
    std::string why;
    backend = ChooseSoundBackend(&why);
    if (!why.empty()) Trace("player: %s\n", why.c_str());
  }
  sound_ = std::make_unique<SoundOutput>(link, player_buffer, std::move(backend), *notices_);
  player_thread_ = std::make_unique<TaskQueue>();
  list_ = new CRecordingListCtrl(link, worker, this);
  BuildControls();
  // Start-up: primary volume full, the sound device ready.
  sound_->SetVolume(0);
  sound_->InitAudio();
  model_.AddListener(this);
}

CPlayerView::~CPlayerView() {
  model_.RemoveListener(this);
  timer2_->stop();
  timer4_->stop();
  timer6_->stop();
  timer8_->stop();
  if (wave_ != nullptr) wave_->Release();
  ++ticket_;
  SoundOutput* sound = sound_.get();
  player_thread_->Post([sound] {
    sound->StopPlayback();
    sound->ShutdownAudio();
  });
  player_thread_.reset();  // runs what is queued, then joins
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
  speed_->setTickInterval(10);
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
  wave_ = new CWaveStatic(link_, this);
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
  timer2_ = make_timer(kTimer2Ms, &CPlayerView::OnTimer2);
  timer4_ = make_timer(kTimer4Ms, &CPlayerView::OnTimer4);
  timer6_ = new QTimer(this);
  timer6_->setInterval(kTimer6Ms);
  connect(timer6_, &QTimer::timeout, this, [this] {
    if (start_pending_ || seek_pending_ || state_ == State::kStopped) return;
    double t = 0;
    if (sound_->GetCurrentTime(&t) == 0) wave_->SetTime(static_cast<int64_t>(t * 1000));
  });
  timer8_ = make_timer(kTimer8Ms, &CPlayerView::OnTimer8);

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
    sound_->SetSpeedPercent(s * 10);
    speed_text_->setText(QString::asprintf("%d%%", s * 10));
  });
  connect(volume_, &QSlider::valueChanged, this, [this](int v) { sound_->SetVolume(v - 5000); });
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
    int id;
    QKeySequence keys;
  };
  const Key keys[] = {
      {playcmd::kPlay, QKeySequence("Ctrl+P")},          {playcmd::kCopy, QKeySequence("Ctrl+C")},
      {playcmd::kCopyAll, QKeySequence("Ctrl+A")},       {playcmd::kDelete, QKeySequence("Ctrl+X")},
      {playcmd::kDeleteAll, QKeySequence("Ctrl+D")},     {playcmd::kAddToBurnList, QKeySequence("Ctrl+B")},
      {playcmd::kMenuMode, QKeySequence("Ctrl+Shift+M")}};
  for (const Key& key : keys) {
    auto* action = new QAction(this);
    action->setShortcut(key.keys);
    action->setShortcutContext(Qt::WindowShortcut);
    action->setData(key.id);
    const int id = key.id;
    connect(action, &QAction::triggered, this, [this, id] { RunCommand(id); });
    addAction(action);
  }
}

QString CPlayerView::FormatReadout(int seconds, int total) {
  return QString::asprintf("%02d:%02d:%02d / %02d:%02d:%02d", seconds / 3600, seconds % 3600 / 60,
                           seconds % 60, total / 3600, total % 3600 / 60, total % 60);
}

QTimer* CPlayerView::Timer(int id) const {
  switch (id) {
    case 2:
      return timer2_;
    case 4:
      return timer4_;
    case 6:
      return timer6_;
    case 8:
      return timer8_;
    default:
      return nullptr;
  }
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

void CPlayerView::SetPanelPage(int param) {
  copy_page_ = param == 1;
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
  player_thread_->Post([self, sound, notices, ticket, entry] {
    notices->ticket_ = ticket;
    const int result = sound->PlayRecording(entry);
    QMetaObject::invokeMethod(
        self.data(),
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
    emit playStarted(result);
    return;
  }
  state_ = State::kPlaying;
  SetPlayIcon(true);
  list_->Model()->SetMark(list_->Model()->FindEntry(entry), CRecordingListModel::kPlayingMark);
  double duration = 0;
  total_seconds_ = sound_->GetDuration(&duration) == 0 ? static_cast<int>(duration + 0.5) : 0;
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
  timer2_->start();
  timer4_->start();
  timer6_->start();
  emit playStarted(0);
}

void CPlayerView::StopPlayback() {
  SetPlayIcon(false);
  timer2_->stop();
  timer4_->stop();
  timer6_->stop();
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
  player_thread_->Post([sound] { sound->StopPlayback(); });
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
      sound_->Pause();
      state_ = State::kPaused;
      Trace("player: paused\n");
      break;
    case State::kPaused:
      SetPlayIcon(true);
      list_->Model()->SetMark(row, CRecordingListModel::kPlayingMark);
      sound_->Resume();
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
  player_thread_->Post([self, sound, seconds, ticket] {
    sound->SeekTime(seconds);
    QMetaObject::invokeMethod(
        self.data(),
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

void CPlayerView::OnTimer2() {
  if (start_pending_ || seek_pending_ || state_ == State::kStopped) return;
  double d = 0, t = 0;
  if (sound_->GetDuration(&d) != 0 || sound_->GetCurrentTime(&t) != 0 || !position_update_) return;
  const int now = static_cast<int>(t + 0.5);
  total_seconds_ = static_cast<int>(d + 0.5);
  if (now != position_->value()) Trace("player: at %d of %d s\n", now, total_seconds_);
  position_->setValue(now);
  time_text_->setText(FormatReadout(now, total_seconds_));
}

void CPlayerView::OnTimer4() {
  int left = 0, right = 0;
  if (start_pending_ || seek_pending_ || state_ == State::kStopped || !position_update_ ||
      sound_->GetPeaks(&left, &right) != 0) {
    left = right = 0;
  }
  meter_->SetPeaks(left, right);
}

void CPlayerView::OnTimer8() {
  if (state_ != State::kPlaying || start_pending_ || seek_pending_) return;
  double t = 0;
  if (sound_->GetCurrentTime(&t) != 0) return;
  SeekTo(std::max(0, static_cast<int>(t) - 3));
}

void CPlayerView::OnFfPressed() {
  if (state_ == State::kStopped || start_pending_) return;
  sound_->SetSpeedPercent(200);
}

void CPlayerView::OnFfReleased() {
  if (state_ == State::kStopped || start_pending_) return;
  sound_->SetSpeedPercent(100);
}

void CPlayerView::OnFrPressed() {
  if (state_ == State::kStopped || start_pending_) return;
  timer8_->start();
}

void CPlayerView::OnFrReleased() {
  timer8_->stop();
  if (state_ == State::kStopped || start_pending_) return;
  sound_->SetSpeedPercent(100);
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

void CPlayerView::RunCommand(int id) {
  switch (id) {
    case playcmd::kPlay:
      PlayPause();
      break;
    case playcmd::kCopy:
      emit copyRequested(SelectedEntries());
      break;
    case playcmd::kCopyAll:
      SelectAllItems();
      emit copyRequested(SelectedEntries());
      break;
    case playcmd::kDelete:
      Deleting(false);
      break;
    case playcmd::kDeleteAll:
      Deleting(true);
      break;
    case playcmd::kAddToBurnList:
      emit addToBurnListRequested(SelectedEntries());
      break;
    case playcmd::kMenuMode:
      menu_mode_ = !menu_mode_;
      break;
    default:
      break;
  }
}

QMenu* CPlayerView::BuildContextMenu(int row) {
  if (row >= 0) list_->SetHotItem(row);
  const int kind = MenuKind();
  auto* menu = new QMenu(this);
  menu->setObjectName(kind == kPlaylistBurnMenu   ? "PLAYLIST_BURN"
                      : kind == kPlaylistCopyMenu ? "PLAYLIST_COPY"
                                                  : "PLAYLIST");
  struct Entry {
    int id;
    const char* text;
  };
  std::vector<Entry> entries{{playcmd::kPlay, "Play\tCtrl + P"}};
  if (kind != kPlaylistBurnMenu) {
    entries.push_back({playcmd::kCopy, "Copy && Save\tCtrl + C"});
    entries.push_back({playcmd::kCopyAll, "Copy all && Save\tCtrl + A"});
  }
  if (kind != kPlaylistCopyMenu) entries.push_back({playcmd::kAddToBurnList, "Add to Burn-list\tCtrl + B"});
  entries.push_back({0, nullptr});
  entries.push_back({playcmd::kDelete, "Delete\tCtrl + X"});
  entries.push_back({playcmd::kDeleteAll, "Delete all\tCtrl + D"});
  const bool selected = !list_->SelectedRows().empty();
  const bool may_delete = DeleteAllowed();
  for (const Entry& e : entries) {
    if (e.text == nullptr) {
      menu->addSeparator();
      continue;
    }
    QAction* action = menu->addAction(QString(e.text));
    action->setData(e.id);
    bool enabled = selected;
    if (e.id == playcmd::kDelete || e.id == playcmd::kDeleteAll) enabled = enabled && may_delete;
    action->setEnabled(enabled);
    const int id = e.id;
    connect(action, &QAction::triggered, this, [this, id] { RunCommand(id); });
  }
  return menu;
}

}  // namespace lyr
