#pragma once
#include <QImage>
#include <QWidget>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

class QTimer;

namespace lyr {

class RecorderLink;
class TaskQueue;
class WaveBuilder;

// The player panel's waveform strip: the peak envelope of the recording
// being played over a 30-second window, a time scale and the red play
// cursor, drawn off screen and copied to the window. The recording's
// per-frame peaks are built by a WaveBuilder on its own thread; the strip
// shows what is ready so far and never waits for the recorder. When the
// strip goes, its builder goes on `reaper` (the application's queue), which
// joins the build's thread off the GUI thread; the queue must outlive it.
class CWaveStatic : public QWidget {
  Q_OBJECT
 public:
  static constexpr uint32_t kWindowMs = 30000;
  static constexpr int kScaleHeight = 20;
  // How often a build in progress redraws the strip.
  static constexpr int kBuildRedrawMs = 200;

  CWaveStatic(RecorderLink& link, TaskQueue& reaper, QWidget* parent = nullptr);
  ~CWaveStatic() override;

  // The clock time of the recording's start (seconds of the day), which
  // puts the labelled ticks on whole five seconds of the clock.
  void SetStartSeconds(int seconds) { start_seconds_ = seconds; }
  // Opens the recording, cursor at 0, columns for [0, window) and draws.
  void Load(uint32_t entry, uint32_t window_ms = kWindowMs);
  // Moves the cursor to a play time, scrolling when needed, and draws.
  void SetTime(int64_t ms);
  // Frees the columns and the off-screen picture; stops a build.
  void Release();

  // What the strip shows, for tests.
  const QImage& Picture() const { return image_; }
  const std::vector<uint8_t>& ColumnPeaks() const { return columns_; }
  int CursorColumn() const { return cursor_; }
  int64_t WindowStart() const { return window_start_; }
  bool Building() const;
  // Frames whose peaks are ready, of all the recording's frames.
  uint32_t FramesReady() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void MakePicture(int width, int height);
  // Columns [first, first + count) for the window starting at `window_start`.
  void ComputeColumns(int first, int count, int64_t window_start);
  void Draw();
  void OnBuildProgress();

  TaskQueue& reaper_;
  std::unique_ptr<WaveBuilder> builder_;
  QTimer* redraw_timer_ = nullptr;
  // Shared with the builder's thread, which may outlive the strip.
  std::shared_ptr<std::atomic<bool>> progress_posted_ = std::make_shared<std::atomic<bool>>(false);
  bool loaded_ = false;
  QImage image_;
  std::vector<uint8_t> columns_;  // left and right per column
  uint32_t window_ms_ = kWindowMs;
  int64_t window_start_ = 0;
  int cursor_ = 0;
  int64_t last_time_ = 0;
  int start_seconds_ = 0;
};

}  // namespace lyr
