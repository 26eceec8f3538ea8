#pragma once
#include <QWidget>

namespace lyr {

// The player panel's two-channel level meter: up to 20 green segments per
// channel on black.
class CLevelMeter : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kSegments = 20;

  explicit CLevelMeter(QWidget* parent = nullptr);

  // Peaks 0 to 32,767; repaints when they change.
  void SetPeaks(int left, int right);
  void SetFormat(int channels, int bits_per_sample);
  int LeftPeak() const { return left_; }
  int RightPeak() const { return right_; }

  // Lit segments for a peak: peak × 20 / 2^(bits − 1) + 1 above 0, none at 0.
  static int LitSegments(int peak, int bits_per_sample);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int left_ = 0;
  int right_ = 0;
  int channels_ = 2;
  int bits_ = 16;
};

}  // namespace lyr
