#include "gui/settings/time_date_page.h"

#include <QGridLayout>
#include <QLabel>
#include <QShowEvent>
#include <QTimer>
#include <algorithm>

#include "gui/settings/choice_spin.h"
#include "link/link_commands.h"
#include "link/recorder_link.h"
#include "settings/clock_rules.h"

namespace lyr {

namespace {

using namespace std::chrono;

constexpr int kFirstYear = 2000;
constexpr int kLastYear = 2099;

CChoiceSpin* Spin(QWidget* parent, const char* name) {
  auto* spin = new CChoiceSpin(parent);
  spin->setObjectName(QString::fromLatin1(name));
  spin->setMinimumWidth(spin->fontMetrics().horizontalAdvance(QStringLiteral("  2099")) + 40);
  return spin;
}

}  // namespace

CTimeDatePage::ClockSource CTimeDatePage::SystemClock() {
  return {[] { return lyr::LocalNow(); }, [] { return steady_clock::now(); }};
}

CTimeDatePage::CTimeDatePage(lyr::RecorderModel& model, lyr::RecorderLink& link, lyr::TaskQueue& worker,
                             QWidget* parent, ClockSource clock)
    : CSettingsPage(model, link, worker, QStringLiteral("TIME & DATE"), true, parent),
      clock_(std::move(clock)) {
  setObjectName(QStringLiteral("time_date_page"));
  auto* grid = new QGridLayout(Body());
  day_ = Spin(Body(), "day");
  month_ = Spin(Body(), "month");
  year_ = Spin(Body(), "year");
  hours_ = Spin(Body(), "hours");
  minutes_ = Spin(Body(), "minutes");
  seconds_ = Spin(Body(), "seconds");
  int column = 0;
  for (auto [caption, spin] :
       {std::pair{"Day", day_}, std::pair{"Month", month_}, std::pair{"Year", year_}}) {
    grid->addWidget(new QLabel(QString::fromLatin1(caption), Body()), 0, column);
    grid->addWidget(spin, 1, column++);
  }
  column = 0;
  for (auto [caption, spin] :
       {std::pair{"Hours", hours_}, std::pair{"Minutes", minutes_}, std::pair{"Seconds", seconds_}}) {
    grid->addWidget(new QLabel(QString::fromLatin1(caption), Body()), 2, column);
    grid->addWidget(spin, 3, column++);
  }
  connect(year_, &CChoiceSpin::userChanged, this, &CTimeDatePage::YearOrMonthChanged);
  connect(month_, &CChoiceSpin::userChanged, this, &CTimeDatePage::YearOrMonthChanged);
  for (CChoiceSpin* spin : {day_, hours_, minutes_, seconds_})
    connect(spin, &CChoiceSpin::userChanged, this, &CTimeDatePage::FieldChanged);

  clock_timer_ = new QTimer(this);
  clock_timer_->setObjectName("clockTimer");
  clock_timer_->setInterval(kTimerIntervalMs);
  connect(clock_timer_, &QTimer::timeout, this, &CTimeDatePage::Tick);

  Prepare();
  Propose();
  Show();
}

int CTimeDatePage::MonthLength(int year, int month) { return lyr::MonthLength(year, month); }

int CTimeDatePage::DayCount() const { return day_->Count(); }

// The PC's clock, not earlier than the first year the page offers.
void CTimeDatePage::Propose() {
  const LocalDateTime now = clock_.local_now();
  edited_ = floor<seconds>(now);
  const auto day = floor<days>(edited_);
  const year_month_day ymd{day};
  if (ymd.year() < year{kFirstYear}) {
    year_month_day raised{year{kFirstYear}, ymd.month(), ymd.day()};
    if (!raised.ok()) raised = year{kFirstYear} / ymd.month() / last;
    edited_ = LocalDateTime{local_days{raised}} + (edited_ - LocalDateTime{day});
  }
  offset_ = duration_cast<milliseconds>(edited_ - now);
}

void CTimeDatePage::Prepare() {
  year_->Fill(kFirstYear, kLastYear, "  %4d");
  month_->Fill(1, 12, "  %d");
  hours_->Fill(0, 23, "  %02d");
  minutes_->Fill(0, 59, "  %02d");
  seconds_->Fill(0, 59, "  %02d");
  FillDays();
}

void CTimeDatePage::LoadFromModel() {
  Propose();
  MarkWhenRecorderDiffers();
}

void CTimeDatePage::FillDays() {
  const int keep = day_->Count() > 0 ? day_->SelectedValue() : 1;
  day_->Fill(1, MonthLength(year_->SelectedValue(), month_->SelectedValue()), "  %2d");
  day_->SelectValue(std::clamp(keep, 1, day_->Count()));
}

void CTimeDatePage::Show() {
  const auto day = floor<days>(edited_);
  const year_month_day ymd{day};
  const hh_mm_ss<seconds> time{floor<seconds>(edited_ - day)};
  year_->SelectValue(static_cast<int>(ymd.year()));
  month_->SelectValue(static_cast<int>(static_cast<unsigned>(ymd.month())));
  hours_->SelectValue(static_cast<int>(time.hours().count()));
  minutes_->SelectValue(static_cast<int>(time.minutes().count()));
  seconds_->SelectValue(static_cast<int>(time.seconds().count()));
  day_->Fill(1, MonthLength(year_->SelectedValue(), month_->SelectedValue()), "  %2d");
  day_->SelectValue(std::clamp(static_cast<int>(static_cast<unsigned>(ymd.day())), 1, day_->Count()));
  Rebuild();
  MarkWhenRecorderDiffers();
}

// The edited time from the six lists.
void CTimeDatePage::Rebuild() {
  const year_month_day ymd{year{year_->SelectedValue()},
                           month{static_cast<unsigned>(month_->SelectedValue())},
                           day{static_cast<unsigned>(day_->SelectedValue())}};
  edited_ = LocalDateTime{local_days{ymd}} + hours{hours_->SelectedValue()} +
            minutes{minutes_->SelectedValue()} + seconds{seconds_->SelectedValue()};
}

void CTimeDatePage::MarkWhenRecorderDiffers() {
  if (model_ == nullptr) return;
  const auto recorder = model_->RecorderNow(clock_.steady_now());
  if (!recorder) return;
  const auto d = round<seconds>(edited_ - *recorder);
  if (d >= seconds{2} || d <= seconds{-2}) MarkChanged();
}

void CTimeDatePage::YearOrMonthChanged() {
  FillDays();
  Rebuild();
  offset_ = duration_cast<milliseconds>(edited_ - clock_.local_now());
  MarkWhenRecorderDiffers();
}

void CTimeDatePage::FieldChanged() {
  Rebuild();
  offset_ = duration_cast<milliseconds>(edited_ - clock_.local_now());
  MarkWhenRecorderDiffers();
}

void CTimeDatePage::Tick() {
  edited_ = floor<seconds>(clock_.local_now() + offset_);
  Show();
}

void CTimeDatePage::showEvent(QShowEvent* event) {
  CSettingsPage::showEvent(event);
  clock_timer_->start();
}

void CTimeDatePage::hideEvent(QHideEvent* event) {
  CSettingsPage::hideEvent(event);
  if (!event->spontaneous()) clock_timer_->stop();
}

void CTimeDatePage::Apply() {
  if (IsBusy()) return;
  const lyr::RecorderClock clock = lyr::BreakDown(edited_);
  struct Outcome {
    bool set = false;
    bool read = false;
    lyr::DeviceRecord device{};
    steady_clock::time_point read_at{};
  };
  // The device record is read again after the clock is set, so that the
  // model (and the mark) know the recorder's new clock.
  Outcome start;
  start.device = recorder_model_.Device();
  RunOnLink(
      [clock, start](lyr::RecorderLink& link) mutable {
        lyr::LinkCommands commands(link);
        start.set = commands.SetClock(clock).ok();
        if (start.set) {
          start.read_at = steady_clock::now();
          const lyr::Result<lyr::DeviceRecord> read = commands.GetDeviceInfo();
          start.read = read.ok();
          if (start.read) start.device = read.value();
        }
        return start;
      },
      [this](Outcome outcome) {
        if (!outcome.set) {
          MarkChanged();
          return;
        }
        if (outcome.read)
          recorder_model_.TakeStatus(outcome.device, recorder_model_.MemoryStatus(), outcome.read_at);
        recorder_model_.NotifyListeners(this);
        MarkClean();
        MarkWhenRecorderDiffers();
      });
}

}  // namespace lyr
