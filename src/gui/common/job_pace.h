#pragma once
// What a progress bar measures, in words: its share done, the rate and the
// time left, estimated from how fast the bar has moved so far.
#include <QElapsedTimer>
#include <QString>
#include <cstdint>

namespace lyr {

// "42 %", then ", 3.1 MB/s" when `total_bytes` (what the bar's 100 % stands
// for) is known, then ", about 1:05 left" once the bar has moved for a
// second. `elapsed_ms` counts from the bar's 0 %.
QString PaceText(int percent, int64_t elapsed_ms, uint64_t total_bytes = 0);

// One bar's clock: restarts whenever the bar goes back (the next file, the
// next step of a job).
class BarPace {
 public:
  void SetTotalBytes(uint64_t bytes) { total_bytes_ = bytes; }
  // The bar's new value; its text.
  QString Update(int percent);

 private:
  QElapsedTimer clock_;
  int last_ = -1;
  uint64_t total_bytes_ = 0;
};

}  // namespace lyr
