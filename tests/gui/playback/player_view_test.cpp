#include "gui/playback/player_view.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QSlider>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <thread>

#include "gui/common/task_queue.h"
#include "gui/playback/level_meter.h"
#include "gui/playback/recording_list.h"
#include "playback/null_sound_backend.h"
#include "playback/player_buffer.h"
#include "support/emulated_recorder.h"
#include "support/qt_env.h"

namespace {

using lyr::CPlayerView;
using lyr::CRecordingListModel;
using lyr_test::WaitFor;
using State = CPlayerView::State;

// Counts the stand-in's transfers that run on the thread which built it
// (the GUI thread of these tests) while `watching` is set.
class GuiThreadWatch final : public lyr::BlockDevice {
 public:
  GuiThreadWatch(std::unique_ptr<lyr::BlockDevice> inner, const std::atomic<bool>* watching,
                 std::atomic<int>* on_gui, std::atomic<int>* all)
      : inner_(std::move(inner)), watching_(watching), on_gui_(on_gui), all_(all) {}
  bool ReadAt(uint64_t offset, void* buffer, size_t length, size_t* done) override {
    Count();
    return inner_->ReadAt(offset, buffer, length, done);
  }
  bool WriteAt(uint64_t offset, const void* buffer, size_t length, size_t* done) override {
    Count();
    return inner_->WriteAt(offset, buffer, length, done);
  }

 private:
  void Count() {
    if (!watching_->load()) return;
    ++*all_;
    if (std::this_thread::get_id() == gui_) ++*on_gui_;
  }
  std::unique_ptr<lyr::BlockDevice> inner_;
  const std::thread::id gui_ = std::this_thread::get_id();
  const std::atomic<bool>* watching_;
  std::atomic<int>* on_gui_;
  std::atomic<int>* all_;
};

struct PlayerViewFixture : ::testing::Test {
  lyr_test::EmulatedRecorder recorder;
  std::unique_ptr<lyr::RecorderLink> link;
  std::unique_ptr<lyr::PlayerBuffer> buffer;
  lyr::TaskQueue worker;
  std::unique_ptr<lyr::TaskQueue> player_worker = std::make_unique<lyr::TaskQueue>();
  lyr::RecorderModel model;
  lyr::NullSoundBackend* backend = nullptr;
  std::unique_ptr<CPlayerView> view;
  // Transfers once the view exists: all of them, and those on the GUI thread.
  std::atomic<bool> watching{false};
  std::atomic<int> gui_transfers{0};
  std::atomic<int> transfers{0};

  // `count` recordings of `seconds` each (48 kHz stereo PCM).
  void Open(int count, int seconds = 3) {
    for (int i = 0; i < count; ++i)
      recorder.AddPcm("LYR" + std::to_string(1000 + i), static_cast<uint32_t>(seconds * 192000));
    link = recorder.MakeLink(true, [this](std::unique_ptr<lyr::BlockDevice> device) {
      return std::make_unique<GuiThreadWatch>(std::move(device), &watching, &gui_transfers, &transfers);
    });
    buffer = lyr::PlayerBuffer::BuffMgrCreate(*link);
    watching = true;
    auto sound = std::make_unique<lyr::NullSoundBackend>(lyr::NullSoundBackend::Clock::Manual);
    backend = sound.get();
    view =
        std::make_unique<CPlayerView>(*link, worker, *player_worker, model, buffer.get(), std::move(sound));
    view->resize(800, 600);
    view->show();
    ASSERT_TRUE(WaitFor([&] { return !Model()->Busy() && Model()->rowCount() == count; }));
  }
  CRecordingListModel* Model() const { return view->List()->Model(); }
  int Hot() const { return view->List()->HotItem(); }
  QString TimeText() const { return view->findChild<QLabel*>("timeText")->text(); }
  int PlayIcon() const { return view->findChild<QPushButton*>("playButton")->property("iconId").toInt(); }
  // Runs a transport action and waits until its start (if any) has ended.
  void Act(const std::function<void()>& action) {
    action();
    ASSERT_TRUE(WaitFor([&] { return !view->StartPending(); }));
  }
  void TearDown() override {
    view.reset();
    player_worker.reset();  // the view's last task stops the sound
    buffer.reset();
  }
};

TEST_F(PlayerViewFixture, EmptyListPlaysNothing) {
  Open(0);
  for (auto action : {&CPlayerView::PlayPause, &CPlayerView::Prev, &CPlayerView::Next}) {
    Act([&] { (view.get()->*action)(); });
    EXPECT_EQ(view->PlayState(), State::kStopped);
    EXPECT_EQ(Hot(), -1);
  }
  Act([&] { view->PlayItem(0); });
  EXPECT_EQ(view->PlayState(), State::kStopped);
  EXPECT_EQ(TimeText(), "00:00:00 / 00:00:00");
}

TEST_F(PlayerViewFixture, TransportOverSeveralItems) {
  Open(3);
  // Next without a current item: the first becomes current, the second plays.
  Act([&] { view->Next(); });
  EXPECT_EQ(view->PlayState(), State::kPlaying);
  EXPECT_EQ(Hot(), 1);
  EXPECT_EQ(Model()->MarkOf(1), CRecordingListModel::kPlayingMark);
  EXPECT_EQ(Model()->MarkOf(0), CRecordingListModel::kNoMark);
  EXPECT_EQ(PlayIcon(), 169);
  EXPECT_TRUE(view->PositionTimer()->isActive() && view->MeterTimer()->isActive() &&
              view->WaveTimer()->isActive());
  EXPECT_TRUE(view->findChild<QSlider*>("positionSlider")->isEnabled());
  EXPECT_EQ(view->findChild<QSlider*>("positionSlider")->maximum(), 3);

  // Pause and play on.
  Act([&] { view->PlayPause(); });
  EXPECT_EQ(view->PlayState(), State::kPaused);
  EXPECT_EQ(Model()->MarkOf(1), CRecordingListModel::kPausedMark);
  EXPECT_EQ(PlayIcon(), 163);
  Act([&] { view->PlayPause(); });
  EXPECT_EQ(view->PlayState(), State::kPlaying);
  EXPECT_EQ(Model()->MarkOf(1), CRecordingListModel::kPlayingMark);

  // Prev restarts the current item; it never moves backwards.
  Act([&] { view->Prev(); });
  EXPECT_EQ(Hot(), 1);
  EXPECT_EQ(view->PlayState(), State::kPlaying);

  // Next to the last, then Next on the last stops.
  Act([&] { view->Next(); });
  EXPECT_EQ(Hot(), 2);
  EXPECT_EQ(Model()->MarkOf(2), CRecordingListModel::kPlayingMark);
  Act([&] { view->Next(); });
  EXPECT_EQ(view->PlayState(), State::kStopped);
  EXPECT_EQ(Model()->MarkOf(2), CRecordingListModel::kNoMark);
  EXPECT_EQ(TimeText(), "00:00:00 / 00:00:00");
  EXPECT_FALSE(view->PositionTimer()->isActive());
  EXPECT_FALSE(view->findChild<QSlider*>("positionSlider")->isEnabled());

  // A double click makes the item current, checks it and plays it.
  EXPECT_FALSE(Model()->Checked(0));
  Act([&] { view->PlayItem(0); });
  EXPECT_EQ(Hot(), 0);
  EXPECT_TRUE(Model()->Checked(0));
  EXPECT_EQ(view->PlayState(), State::kPlaying);
  Act([&] { view->StopPlayback(); });
  EXPECT_EQ(view->PlayState(), State::kStopped);
  EXPECT_EQ(PlayIcon(), 163);
}

TEST_F(PlayerViewFixture, OneItemAndTheFirstPlay) {
  Open(1);
  // The first Play takes the first selected item, else the first item.
  Act([&] { view->PlayPause(); });
  EXPECT_EQ(Hot(), 0);
  EXPECT_EQ(view->PlayState(), State::kPlaying);
  // No item follows: Next stops.
  Act([&] { view->Next(); });
  EXPECT_EQ(view->PlayState(), State::kStopped);
  // Stopped: Play plays the current item again.
  Act([&] { view->PlayPause(); });
  EXPECT_EQ(view->PlayState(), State::kPlaying);
}

TEST_F(PlayerViewFixture, EndOfRecordingStops) {
  Open(1, 1);
  Act([&] { view->PlayPause(); });
  ASSERT_EQ(view->PlayState(), State::kPlaying);
  // Run the sound clock well past the end of the one-second recording.
  ASSERT_TRUE(WaitFor([&] {
    backend->Advance(4800);
    return view->PlayState() == State::kStopped;
  }));
  EXPECT_EQ(Model()->MarkOf(0), CRecordingListModel::kNoMark);
}

// Closing the view while the player queue is busy (a start waiting for the
// recorder's first data) neither waits for it nor leaves the queued work
// with a freed sound output: the stop runs after it, once it is let go.
TEST_F(PlayerViewFixture, ClosingWhilePlayingDoesNotWaitForThePlayerQueue) {
  Open(2);
  Act([&] { view->PlayPause(); });
  ASSERT_EQ(view->PlayState(), State::kPlaying);
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::atomic<bool> held{false};
  player_worker->Post([released, &held] {
    held = true;
    released.wait();
  });
  ASSERT_TRUE(WaitFor([&] { return held.load(); }));
  view->Next();  // queued behind the held task
  const auto before = std::chrono::steady_clock::now();
  view.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(1));
  release.set_value();
  player_worker.reset();              // the start and the stop run now, then the queue joins
  QCoreApplication::processEvents();  // their notices find no view
}

TEST_F(PlayerViewFixture, WindingHeldAndReleased) {
  Open(1, 20);
  auto* speed = view->findChild<QSlider*>("speedSlider");
  speed->setValue(15);
  EXPECT_EQ(view->findChild<QLabel*>("speedText")->text(), "150%");
  Act([&] { view->PlayPause(); });
  ASSERT_EQ(view->PlayState(), State::kPlaying);
  EXPECT_EQ(view->Sound().speed_percent(), 150);

  auto* ff = view->findChild<QPushButton*>("ffButton");
  emit ff->pressed();
  EXPECT_EQ(view->Sound().speed_percent(), 200);
  emit ff->released();
  // The plain rate, not the speed slider's.
  EXPECT_EQ(view->Sound().speed_percent(), 100);

  // Ten seconds in, FR held: every 1.4 s the stream goes back 3 seconds.
  ASSERT_TRUE(WaitFor([&] {
    backend->Advance(4800);
    double t = 0;
    return view->Sound().GetCurrentTime(&t) == 0 && t >= 10.0;
  }));
  double before = 0;
  ASSERT_EQ(view->Sound().GetCurrentTime(&before), 0);
  auto* fr = view->findChild<QPushButton*>("frButton");
  emit fr->pressed();
  EXPECT_TRUE(view->RewindTimer()->isActive());
  ASSERT_TRUE(WaitFor(
      [&] {
        double t = 0;
        return !view->StartPending() && view->Sound().GetCurrentTime(&t) == 0 && t <= before - 2.5;
      },
      std::chrono::seconds(5)));
  double after = 0;
  ASSERT_EQ(view->Sound().GetCurrentTime(&after), 0);
  EXPECT_NEAR(after, static_cast<int>(before) - 3, 0.1);
  emit fr->released();
  EXPECT_FALSE(view->RewindTimer()->isActive());
  EXPECT_EQ(view->Sound().speed_percent(), 100);
}

TEST(PlayerViewReadout, Formats) {
  struct Case {
    int seconds, total;
    const char* text;
  };
  const Case cases[] = {{0, 0, "00:00:00 / 00:00:00"},
                        {3599, 3599, "00:59:59 / 00:59:59"},
                        {3725, 7384, "01:02:05 / 02:03:04"},
                        {36000, 360000, "10:00:00 / 100:00:00"}};
  for (const Case& c : cases) EXPECT_EQ(CPlayerView::FormatReadout(c.seconds, c.total).toStdString(), c.text);
}

TEST(LevelMeterSegments, LitCounts) {
  EXPECT_EQ(lyr::CLevelMeter::LitSegments(16384, 16), 11);
  EXPECT_EQ(lyr::CLevelMeter::LitSegments(32767, 16), 20);
  EXPECT_EQ(lyr::CLevelMeter::LitSegments(0, 16), 0);
  EXPECT_EQ(lyr::CLevelMeter::LitSegments(1, 16), 1);
}

// Which of the menu's commands are enabled, by object name.
std::map<std::string, bool> MenuState(QMenu* menu) {
  std::map<std::string, bool> state;
  for (QAction* a : menu->actions()) {
    if (!a->isSeparator()) state[a->objectName().toStdString()] = a->isEnabled();
  }
  delete menu;
  return state;
}

TEST_F(PlayerViewFixture, ContextMenusAndTheirGreying) {
  Open(4);
  bool may_delete = true;
  view->SetDeleteAllowed([&] { return may_delete; });

  // The burn page is current at first: menu 220 and "Add to Burn List".
  EXPECT_EQ(view->MenuKind(), lyr::kPlaylistBurnMenu);
  EXPECT_EQ(view->findChild<QPushButton*>("actionButton")->text(), "Add to Burn List");
  auto burn = MenuState(view->BuildContextMenu(-1));
  EXPECT_EQ(burn.count("copy"), 0u);
  for (auto [id, enabled] : burn) EXPECT_FALSE(enabled) << id;  // nothing selected

  view->SetPanelPage(true);
  EXPECT_EQ(view->MenuKind(), lyr::kPlaylistCopyMenu);
  EXPECT_EQ(view->findChild<QPushButton*>("actionButton")->text(), "Copy && save");
  view->List()->selectRow(1);
  view->List()->selectionModel()->select(Model()->index(3, 0),
                                         QItemSelectionModel::Select | QItemSelectionModel::Rows);
  auto copy = MenuState(view->BuildContextMenu(2));
  EXPECT_EQ(Hot(), 2);  // the item under the cursor becomes current
  EXPECT_EQ(copy.count("addToBurnList"), 0u);
  for (const char* name : {"play", "copy", "copyAll", "delete", "deleteAll"}) EXPECT_TRUE(copy[name]) << name;

  // Without the right to delete, only the deletes are greyed.
  may_delete = false;
  view->OnMenuMode();
  EXPECT_EQ(view->MenuKind(), lyr::kPlaylistMenu);
  auto full = MenuState(view->BuildContextMenu(1));
  EXPECT_EQ(full.size(), 6u);
  for (auto [id, enabled] : full) EXPECT_EQ(enabled, id != "delete" && id != "deleteAll") << id;

  // The commands hand the selection on, top to bottom.
  std::vector<uint32_t> copied, burned, deleted;
  QObject::connect(view.get(), &CPlayerView::copyRequested, [&](std::vector<uint32_t> e) { copied = e; });
  QObject::connect(view.get(), &CPlayerView::addToBurnListRequested,
                   [&](std::vector<uint32_t> e) { burned = e; });
  QObject::connect(view.get(), &CPlayerView::deleteRequested, [&](std::vector<uint32_t> e) { deleted = e; });
  view->OnCopy();
  EXPECT_EQ(copied, (std::vector<uint32_t>{Model()->Entry(1), Model()->Entry(3)}));
  view->OnDelete();
  EXPECT_TRUE(deleted.empty());  // not allowed
  may_delete = true;
  view->OnDeleteAll();
  EXPECT_EQ(deleted.size(), 4u);
  view->SetPanelPage(false);
  view->findChild<QPushButton*>("actionButton")->click();
  EXPECT_EQ(burned.size(), 4u);
}

TEST_F(PlayerViewFixture, NoRecorderEmptiesTheList) {
  Open(3);
  Act([&] { view->PlayPause(); });
  lyr_test::MarkUsable(*link, false);
  model.NotifyListeners(nullptr);
  EXPECT_EQ(Model()->rowCount(), 0);
  EXPECT_EQ(view->PlayState(), State::kStopped);
  auto menu = MenuState(view->BuildContextMenu(-1));
  for (auto [id, enabled] : menu) EXPECT_FALSE(enabled) << id;
}

TEST_F(PlayerViewFixture, OnlyTheRowsInViewAreRead) {
  Open(300, 1);
  auto* list = view->List();
  const int page = list->RowsPerPage();
  auto filled = [&] {
    std::vector<int> rows;
    for (int r = 0; r < Model()->rowCount(); ++r) {
      if (Model()->Row(r).filled) rows.push_back(r);
    }
    return rows;
  };
  ASSERT_TRUE(WaitFor([&] { return !Model()->Busy(); }));
  std::vector<int> rows = filled();
  ASSERT_EQ(static_cast<int>(rows.size()), page + 5);
  EXPECT_EQ(rows.front(), 0);
  EXPECT_EQ(Model()->data(Model()->index(0, CRecordingListModel::kIndex), Qt::DisplayRole).toString(),
            "LYR1000");
  EXPECT_EQ(Model()->data(Model()->index(0, CRecordingListModel::kDuration), Qt::DisplayRole).toString(),
            "00:00:01");
  EXPECT_EQ(Model()->data(Model()->index(page + 5, CRecordingListModel::kIndex), Qt::DisplayRole).toString(),
            "");

  // Scrolled to row 150: that page and five more are read, nothing between.
  list->scrollTo(Model()->index(150, 1), QAbstractItemView::PositionAtTop);
  ASSERT_TRUE(WaitFor([&] { return !Model()->Busy() && Model()->Row(150).filled; }));
  rows = filled();
  EXPECT_EQ(static_cast<int>(rows.size()), 2 * (page + 5));
  EXPECT_EQ(rows[static_cast<size_t>(page + 5)], list->TopRow());
  EXPECT_FALSE(Model()->Row(100).filled);

  // The list was read, filled twice and a recording played: all on workers.
  Act([&] { view->PlayItem(150); });
  EXPECT_EQ(view->PlayState(), State::kPlaying);
  view->StopPlayback();
  view->RedrawList();
  ASSERT_TRUE(WaitFor([&] { return !Model()->Busy() && Model()->Row(150).filled; }));
  EXPECT_GT(transfers.load(), 0);
  EXPECT_EQ(gui_transfers.load(), 0);
}

TEST_F(PlayerViewFixture, RowsReadAgainKeepSelectionChecksMarkAndCurrentItem) {
  Open(5);
  auto* list = view->List();
  Model()->SetCheck(4, true);
  Act([&] { view->PlayItem(2); });
  list->selectionModel()->clearSelection();
  for (int row : {1, 3})
    list->selectionModel()->select(Model()->index(row, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
  watching = false;
  for (int row : {1, 3}) ASSERT_EQ(link->MarkRecordingCopied(Model()->Entry(row)), 1);
  view->RedrawList();
  EXPECT_EQ(Model()->rowCount(), 5);  // the rows stay shown meanwhile
  ASSERT_TRUE(WaitFor([&] { return !Model()->Busy() && Model()->Row(3).copied; }));
  EXPECT_TRUE(Model()->Row(1).copied);
  EXPECT_FALSE(Model()->Row(2).copied);
  EXPECT_EQ(list->SelectedRows(), (std::vector<int>{1, 3}));
  EXPECT_TRUE(Model()->Checked(4));
  EXPECT_EQ(Model()->MarkOf(2), CRecordingListModel::kPlayingMark);
  EXPECT_EQ(Hot(), 2);

  // A document refresh after the first recording went: the rest keep their
  // checks, the playing mark and the current item.
  const uint32_t playing = Model()->Entry(2), checked = Model()->Entry(4);
  ASSERT_EQ(link->DeleteRecording(Model()->Entry(0)), 1);
  model.NotifyListeners(nullptr);
  EXPECT_EQ(Model()->rowCount(), 5);
  ASSERT_TRUE(WaitFor([&] { return !Model()->Busy() && Model()->rowCount() == 4; }));
  EXPECT_EQ(Model()->Entry(1), playing);
  EXPECT_EQ(Model()->MarkOf(1), CRecordingListModel::kPlayingMark);
  EXPECT_EQ(Hot(), 1);
  EXPECT_TRUE(Model()->Checked(3));
  EXPECT_EQ(Model()->Entry(3), checked);
  EXPECT_FALSE(Model()->Checked(0));
  EXPECT_EQ(view->PlayState(), State::kPlaying);
  view->StopPlayback();
}

}  // namespace
