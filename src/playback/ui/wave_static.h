#pragma once
#include <QImage>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <vector>

namespace lyr {

class RecorderLink;
class WaveBuilder;

// The player panel's waveform strip: the peak envelope of the recording
// being played over a 30-second window, a time scale and the red play
// cursor, drawn off screen and copied to the window. The recording's
// per-frame peaks are built by a WaveBuilder on its own thread; the strip
// shows what is ready so far and never waits for the recorder.
class CWaveStatic : public QWidget {
  Q_OBJECT
 public:
  static constexpr uint32_t kWindowMs = 30000;

  explicit CWaveStatic(RecorderLink& link, QWidget* parent = nullptr);
  ~CWaveStatic() override;

  // Opens the recording, cursor at 0, columns for [0, window) and draws.
  void Load(uint32_t entry, uint32_t window_ms = kWindowMs);
  // Moves the cursor to a play time, scrolling when needed, and draws.
  void SetTime(int64_t ms);
  // Frees the columns and the off-screen picture; stops a build.
  void Release();
};

}  // namespace lyr
