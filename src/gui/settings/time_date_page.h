#pragma once
#include <chrono>
#include <functional>

#include "gui/settings/settings_page.h"

class QTimer;

namespace lyr {

class CChoiceSpin;

// TIME & DATE: proposes the PC's clock (or a time the user picks, which then
// runs on with the PC clock) and sets the recorder's clock with "Apply". The
// page is marked "   NOT SET" while the recorder's clock is 2 s or more away
// from the proposal.
class CTimeDatePage : public CSettingsPage {
  Q_OBJECT

 public:
  static constexpr int kTimerIntervalMs = 1000;
  using LocalDateTime = lyr::LocalDateTime;

  // Where the page reads the PC's local time and the monotonic clock (tests
  // give fixed ones).
  struct ClockSource {
    std::function<LocalDateTime()> local_now;
    std::function<std::chrono::steady_clock::time_point()> steady_now;
  };
  static ClockSource SystemClock();

  CTimeDatePage(lyr::RecorderModel& model, lyr::RecorderLink& link, lyr::TaskQueue& worker,
                QWidget* parent = nullptr, ClockSource clock = SystemClock());

  void LoadFromModel() override;
  void Prepare() override;
  void Show() override;

  // Days in a month of the Gregorian calendar.
  static int MonthLength(int year, int month);
  LocalDateTime Edited() const { return edited_; }
  int DayCount() const;
  // The timer's step: the proposal runs on with the PC clock.
  void Tick();

 public slots:
  void Apply() override;

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void Propose();
  void FillDays();
  void Rebuild();
  void MarkWhenRecorderDiffers();
  void YearOrMonthChanged();
  void FieldChanged();

  ClockSource clock_;
  LocalDateTime edited_{};
  std::chrono::milliseconds offset_{0};
  CChoiceSpin* day_ = nullptr;
  CChoiceSpin* month_ = nullptr;
  CChoiceSpin* year_ = nullptr;
  CChoiceSpin* hours_ = nullptr;
  CChoiceSpin* minutes_ = nullptr;
  CChoiceSpin* seconds_ = nullptr;
  QTimer* clock_timer_ = nullptr;
};

}  // namespace lyr
