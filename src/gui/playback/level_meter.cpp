#include "gui/playback/level_meter.h"

#include <QPainter>
#include <algorithm>

namespace lyr {

CLevelMeter::CLevelMeter(QWidget* parent) : QWidget(parent) {
  setObjectName("levelMeter");
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void CLevelMeter::SetPeaks(int left, int right) {
  if (left == left_ && right == right_) return;
  left_ = left;
  right_ = right;
  update();
}

void CLevelMeter::SetFormat(int channels, int bits_per_sample) {
  channels_ = channels;
  bits_ = bits_per_sample;
  update();
}

int CLevelMeter::LitSegments(int peak, int bits_per_sample) {
  if (peak <= 0 || bits_per_sample < 2 || bits_per_sample > 32) return 0;
  const long long full = 1LL << (bits_per_sample - 1);
  return static_cast<int>(
      std::min<long long>(kSegments, peak * static_cast<long long>(kSegments) / full + 1));
}

void CLevelMeter::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  const int w = width();
  const int h = height();
  painter.fillRect(rect(), Qt::black);
  const int margin = w / 41;
  const int pitch = (w - margin) / kSegments;
  const int segment = 2 * pitch / 3;
  const int bar = h / 3;
  const int channels = std::max(1, channels_);
  auto draw = [&](int peak, int top) {
    const int lit = LitSegments(peak, bits_);
    for (int i = 0; i < lit; ++i) painter.fillRect(margin + i * pitch, top, segment, bar, QColor(0, 255, 0));
  };
  draw(left_, h / (3 * (channels + 1)));
  if (channels == 2) draw(right_, h / 3 + 2 * h / 9);
}

}  // namespace lyr
