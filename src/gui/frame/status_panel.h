#pragma once
// The status panel docked in the main frame: recording time left at the
// current file type, the file type, the recorder's date and time, the free
// memory with the firmware version, and a ten-segment level meter.
//
// For the frame:
//   auto* panel = new CStatusPanel(model, link, worker);  // registers with the model
//   dock->setWidget(panel);                        // any width; see resizeEvent
//   panel->SetLevel(v);                            // the meter, from any source
// The panel listens to the recorder model for its whole life (it unregisters
// itself when destroyed) and redraws whenever the model's listeners are told
// of a change. The device record and memory status are read afresh on a
// the application's task queue, never on the GUI thread; a one-second timer
// keeps the clock running in between. The panel may be destroyed while a read
// runs (its result is let fall). The model, the link and the queue must
// outlive the panel.
#include <QWidget>
#include <array>
#include <chrono>
#include <optional>

#include "gui/common/task_queue.h"
#include "settings/recorder_model.h"

class QFrame;
class QLabel;
class QTimer;

namespace lyr {
class RecorderLink;

// One meter segment: a rectangle filled with one colour.
class CLevelSegment : public QWidget {
 public:
  explicit CLevelSegment(QWidget* parent = nullptr);
  void SetColourIndex(int index);
  int ColourIndex() const { return colour_; }
  // black, red, grey, yellow, green by index; any other index white.
  static QColor ColourOf(int index);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int colour_ = 2;
};

class CStatusPanel : public QWidget, public lyr::ModelListener {
  Q_OBJECT

 public:
  static constexpr int kClockIntervalMs = 1000;
  static constexpr int kSegmentCount = 10;
  // Segment colour indices.
  enum { kBlack = 0, kRed = 1, kGrey = 2, kYellow = 3, kGreen = 4 };
  // Where the device record carries the input level.
  static constexpr size_t kDevLevel = 142;

  CStatusPanel(lyr::RecorderModel& model, lyr::RecorderLink& link, lyr::TaskQueue& worker,
               QWidget* parent = nullptr);
  ~CStatusPanel() override;

  // ModelListener: Show recomputes everything; the other two do nothing.
  void LoadFromModel() override {}
  void Prepare() override {}
  void Show() override;

  // The meter for a level (0 to 330 and beyond).
  void SetLevel(int level);
  // The colour index of each segment for a level, bottom segment first.
  static std::array<int, kSegmentCount> LevelColours(int level);

  QString RemainingTimeText() const;
  QString FileTypeText() const;
  QString DateTimeText() const;
  QString MemoryText() const;
  int SegmentColour(int segment) const;
  // Whether a read of the device record and memory status is under way.
  bool IsReading() const { return reading_; }

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 signals:
  // A fresh read of the recorder has been shown.
  void statusRead();

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  bool RecorderUsable() const;
  void ShowFromModel();
  void Clear();
  void StartRead();
  void TakeRead(bool device_ok, const lyr::DeviceRecord& device, bool memory_ok,
                const lyr::MemoryStatusRecord& memory, std::chrono::steady_clock::time_point read_at);
  void Tick();
  void PlaceBlock();

  lyr::RecorderModel& recorder_model_;
  lyr::RecorderLink& link_;
  QLabel* remaining_ = nullptr;
  QLabel* file_type_ = nullptr;
  QLabel* date_time_ = nullptr;
  QLabel* memory_ = nullptr;
  QWidget* texts_ = nullptr;
  QFrame* separator_ = nullptr;
  QWidget* block_ = nullptr;
  QLabel* picture_ = nullptr;
  QLabel* caption_ = nullptr;
  std::array<CLevelSegment*, kSegmentCount> segments_{};
  QTimer* clock_timer_ = nullptr;
  bool reading_ = false;
  bool read_again_ = false;
  lyr::TaskQueue& worker_;
};

}  // namespace lyr
