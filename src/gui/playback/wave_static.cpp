#include "gui/playback/wave_static.h"

#include <QCoreApplication>
#include <QFont>
#include <QPaintEvent>
#include <QPainter>
#include <QPointer>
#include <QTimer>
#include <algorithm>
#include <cstring>

#include "gui/common/task_queue.h"
#include "playback/wave_builder.h"

namespace lyr {
namespace {

const QColor kGrey(128, 128, 128);
const QColor kEnvelope(0, 0, 200);
const QColor kCursor(200, 0, 0);

}  // namespace

CWaveStatic::CWaveStatic(RecorderLink& link, TaskQueue& reaper, QWidget* parent)
    : QWidget(parent), reaper_(reaper) {
  setObjectName("waveStatic");
  setAttribute(Qt::WA_OpaquePaintEvent);
  redraw_timer_ = new QTimer(this);
  redraw_timer_->setSingleShot(true);
  redraw_timer_->setInterval(kBuildRedrawMs);
  connect(redraw_timer_, &QTimer::timeout, this, [this] {
    if (!loaded_ || columns_.empty()) return;
    ComputeColumns(0, static_cast<int>(columns_.size() / 2), window_start_);
    Draw();
  });
  // The builder reports on its own thread: one queued call at a time
  // reaches this one, which redraws at most every kBuildRedrawMs. The
  // handler touches nothing of the strip: the build may outlive it.
  QPointer<CWaveStatic> self(this);
  builder_ = std::make_unique<WaveBuilder>(link, [self, posted = progress_posted_](const WaveBuildProgress&) {
    if (posted->exchange(true)) return;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [self] {
          if (!self.isNull()) self->OnBuildProgress();
        },
        Qt::QueuedConnection);
  });
}

CWaveStatic::~CWaveStatic() {
  // A read under way ends on the builder's thread; the queue joins it there.
  builder_->RequestCancel();
  reaper_.Post([builder = std::shared_ptr<WaveBuilder>(std::move(builder_))]() mutable { builder.reset(); });
}

bool CWaveStatic::Building() const {
  const WaveBuildProgress p = builder_->Progress();
  return loaded_ && !p.finished;
}

uint32_t CWaveStatic::FramesReady() const { return builder_->Progress().frames_ready; }

void CWaveStatic::OnBuildProgress() {
  *progress_posted_ = false;
  if (!redraw_timer_->isActive()) redraw_timer_->start();
}

void CWaveStatic::MakePicture(int width, int height) {
  if (width <= 0 || height <= 0) {
    image_ = QImage();
    columns_.clear();
    return;
  }
  image_ = QImage(width, height, QImage::Format_RGB32);
  image_.fill(kGrey);
  columns_.assign(static_cast<size_t>(width) * 2, 0);
}

void CWaveStatic::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  MakePicture(width(), height());
  if (loaded_) {
    ComputeColumns(0, width(), window_start_);
    const int64_t span = window_ms_;
    cursor_ = last_time_ < span / 2 ? static_cast<int>(last_time_ * width() / span) : width() / 2;
    Draw();
  }
  update();
}

void CWaveStatic::Load(uint32_t entry, uint32_t window_ms) {
  window_ms_ = window_ms == 0 ? kWindowMs : window_ms;
  window_start_ = 0;
  cursor_ = 0;
  last_time_ = 0;
  loaded_ = true;
  builder_->Start(entry);
  if (image_.isNull()) MakePicture(width(), height());
  if (columns_.empty()) return;
  ComputeColumns(0, static_cast<int>(columns_.size() / 2), 0);
  Draw();
}

void CWaveStatic::SetTime(int64_t ms) {
  if (!loaded_ || columns_.empty()) return;
  ms = std::max<int64_t>(0, ms);
  const int w = static_cast<int>(columns_.size() / 2);
  const int64_t span = window_ms_;
  if (ms < span / 2) {
    ComputeColumns(0, w, 0);
    cursor_ = static_cast<int>(static_cast<double>(ms) / (static_cast<double>(span) / w));
    window_start_ = 0;
    last_time_ = ms;
  } else {
    cursor_ = w / 2;
    const int64_t shift = static_cast<int64_t>(w) * (ms - last_time_) / span;
    const int64_t start = ms - span / 2;
    if (shift > 0 && shift < w) {
      const size_t moved = static_cast<size_t>(shift) * 2;
      std::memmove(columns_.data(), columns_.data() + moved, columns_.size() - moved);
      ComputeColumns(w - static_cast<int>(shift), static_cast<int>(shift), start);
    } else {
      ComputeColumns(0, w, start);
    }
    window_start_ = start;
    last_time_ += span * shift / w;
  }
  Draw();
}

void CWaveStatic::ComputeColumns(int first, int count, int64_t window_start) {
  const int w = static_cast<int>(columns_.size() / 2);
  if (count <= 0 || w == 0) return;
  // The columns [first, first + count) cover that share of the window.
  const int64_t span = window_ms_;
  const int64_t start = window_start + span * first / w;
  const int64_t length = span * count / w;
  std::span<uint8_t> out(columns_.data() + static_cast<size_t>(first) * 2, static_cast<size_t>(count) * 2);
  std::fill(out.begin(), out.end(), 0);
  if (length <= 0) return;
  builder_->Columns(out, static_cast<uint32_t>(count), static_cast<uint32_t>(std::max<int64_t>(0, start)),
                    static_cast<uint32_t>(length));
}

void CWaveStatic::Release() {
  builder_->RequestCancel();  // a read under way ends on the builder's thread
  redraw_timer_->stop();
  loaded_ = false;
  image_ = QImage();
  columns_.clear();
  columns_.shrink_to_fit();
  update();
}

void CWaveStatic::Draw() {
  if (image_.isNull()) return;
  const int w = image_.width();
  const int h_total = image_.height();
  const int64_t span = window_ms_;
  QPainter p(&image_);
  p.fillRect(image_.rect(), kGrey);
  QFont font("Times New Roman");
  font.setPixelSize(15);
  font.setWeight(QFont::Normal);
  p.setFont(font);

  // Middle line, scale line.
  const int h = (h_total - kScaleHeight) / 2;
  p.setPen(QPen(Qt::black, 2));
  p.drawLine(0, h + kScaleHeight, w, h + kScaleHeight);
  p.setPen(QPen(Qt::black, 1));
  p.drawLine(0, kScaleHeight, w, kScaleHeight);

  // A tick for every whole second in the window.
  const int64_t first_second = (window_start_ + 999) / 1000;
  for (int64_t t = first_second; t * 1000 <= window_start_ + span; ++t) {
    const int x = static_cast<int>((t * 1000 - window_start_) * w / span);
    p.drawLine(x, kScaleHeight, x, kScaleHeight - 3);
  }
  // Labelled ticks on every fifth second of the clock.
  for (int64_t k = 0; k <= span / 5000; ++k) {
    const int64_t t = 5 * (window_start_ / 5000 + k + 1) - (start_seconds_ % 5);
    const int x = static_cast<int>((t * 1000 - window_start_) * w / span);
    p.drawLine(x, kScaleHeight, x, kScaleHeight - 5);
    const QString label = QString::asprintf("%02d:%02d:%02d", static_cast<int>(t / 3600),
                                            static_cast<int>(t % 3600 / 60), static_cast<int>(t % 60));
    p.drawText(QRect(x - 24, 0, 80, kScaleHeight - 4), Qt::AlignLeft | Qt::AlignTop, label);
  }

  // The envelope: left above the middle line, right below it.
  p.setPen(QPen(kEnvelope, 1));
  for (int x = 0; x < w && static_cast<size_t>(x) * 2 + 1 < columns_.size(); ++x) {
    const int left = columns_[static_cast<size_t>(x) * 2];
    const int right = columns_[static_cast<size_t>(x) * 2 + 1];
    p.drawLine(x, h - left * h / 256 + kScaleHeight, x, h + right * h / 256 + kScaleHeight);
  }

  p.setPen(QPen(kCursor, 1));
  p.drawLine(cursor_, 0, cursor_, h_total);
  p.end();
  repaint();
}

void CWaveStatic::paintEvent(QPaintEvent* /*event*/) {
  QPainter p(this);
  if (image_.isNull()) {
    p.fillRect(rect(), kGrey);
    return;
  }
  p.drawImage(rect(), image_);
}

}  // namespace lyr
