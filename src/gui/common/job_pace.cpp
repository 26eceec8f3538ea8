#include "gui/common/job_pace.h"

#include <algorithm>

namespace lyr {
namespace {
constexpr int64_t kSettleMs = 1000;  // before this a rate says little

QString Duration(int64_t seconds) {
  const int64_t h = seconds / 3600, m = seconds / 60 % 60, s = seconds % 60;
  if (h > 0) return QString("%1:%2:%3").arg(h).arg(m, 2, 10, QChar('0')).arg(s, 2, 10, QChar('0'));
  return QString("%1:%2").arg(m).arg(s, 2, 10, QChar('0'));
}
}  // namespace

QString PaceText(int percent, int64_t elapsed_ms, uint64_t total_bytes) {
  percent = std::clamp(percent, 0, 100);
  QString text = QString("%1 %").arg(percent);
  if (percent == 0 || percent == 100 || elapsed_ms < kSettleMs) return text;
  if (total_bytes > 0) {
    const double done = static_cast<double>(total_bytes) * percent / 100.0;
    text +=
        QString(", %1 MB/s").arg(done / 1048576.0 / (static_cast<double>(elapsed_ms) / 1000.0), 0, 'f', 1);
  }
  const int64_t left_ms = elapsed_ms * (100 - percent) / percent;
  text += QString(", about %1 left").arg(Duration((left_ms + 999) / 1000));
  return text;
}

QString BarPace::Update(int percent) {
  if (!clock_.isValid() || percent < last_) clock_.start();
  last_ = percent;
  return PaceText(percent, clock_.elapsed(), total_bytes_);
}

}  // namespace lyr
