#pragma once
// Shared by the window benchmarks (offscreen Qt): waiting with the event
// loop running, and the longest stall of the GUI event loop.
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <functional>
#include <utility>

namespace lyr_bench {

// Runs the event loop until `done` holds; false once `ms` have passed.
inline bool WaitUntil(const std::function<bool()>& done, int ms) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > ms) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  return true;
}

// A precise 5 ms timer on the GUI thread: the longest gap between two of its
// ticks (from Start) is the longest stall of the event loop, its own 5 ms
// included. `each`, when given, runs at every tick with the milliseconds
// since Start.
class StallProbe {
 public:
  static constexpr int kIntervalMs = 5;

  explicit StallProbe(std::function<void(double now_ms)> each = {}) : each_(std::move(each)) {
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(kIntervalMs);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      const double now = NowMs();
      if (now - last_ > longest_) {
        longest_ = now - last_;
        longest_at_ = last_;
      }
      last_ = now;
      if (each_) each_(now);
    });
  }
  void Start() {
    clock_.start();
    last_ = longest_ = longest_at_ = 0;
    timer_.start();
  }
  void Stop() { timer_.stop(); }
  double LongestMs() const { return longest_; }
  // When the longest gap began, in milliseconds since Start.
  double LongestAtMs() const { return longest_at_; }

 private:
  double NowMs() const { return static_cast<double>(clock_.nsecsElapsed()) / 1e6; }

  std::function<void(double)> each_;
  QTimer timer_;
  QElapsedTimer clock_;
  double last_ = 0;
  double longest_ = 0;
  double longest_at_ = 0;
};

}  // namespace lyr_bench
