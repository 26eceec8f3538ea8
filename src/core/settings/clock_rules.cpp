#include "settings/clock_rules.h"

#include <cstdio>

namespace lyr {

using namespace std::chrono;

int MonthLength(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

bool IsClockOffered(const RecorderClock& c) {
  return c.year >= kClockFirstYear && c.year <= kClockLastYear && c.month >= 1 && c.month <= 12 &&
         c.day >= 1 && c.day <= MonthLength(c.year, c.month) && c.hour < 24 && c.minute < 60 && c.second < 60;
}

LocalDateTime ProposedClockTime(LocalDateTime pc_now) {
  const auto day = floor<days>(pc_now);
  const year_month_day ymd{day};
  if (static_cast<int>(ymd.year()) >= kClockFirstYear) return pc_now;
  // The same month, day and time in 2000; February 29 exists there.
  const year_month_day raised{year{kClockFirstYear}, ymd.month(), ymd.day()};
  return local_days{raised} + (pc_now - day);
}

bool RecorderClockDiffers(LocalDateTime proposed, std::optional<LocalDateTime> recorder_now) {
  if (!recorder_now) return true;
  const auto seconds = round<std::chrono::seconds>(proposed - *recorder_now).count();
  return seconds >= 2 || seconds <= -2;
}

Result<RecorderClock> ParseClockText(const std::string& text) {
  unsigned y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  int used = 0;
  if (std::sscanf(text.c_str(), "%4u-%2u-%2u %2u:%2u:%2u%n", &y, &mo, &d, &h, &mi, &s, &used) != 6 ||
      static_cast<size_t>(used) != text.size())
    return Error::Code(kErrorInvalidParameter, "the time must be given as \"YYYY-MM-DD HH:MM:SS\"");
  RecorderClock c;
  c.year = static_cast<uint16_t>(y);
  c.month = static_cast<uint16_t>(mo);
  c.day = static_cast<uint16_t>(d);
  c.hour = static_cast<uint16_t>(h);
  c.minute = static_cast<uint16_t>(mi);
  c.second = static_cast<uint16_t>(s);
  if (c.year < kClockFirstYear || c.year > kClockLastYear)
    return Error::Code(kErrorInvalidParameter, "the recorder's clock takes the years 2000 to 2099");
  if (!IsClockOffered(c)) return Error::Code(kErrorInvalidParameter, "no such date or time: " + text);
  return c;
}

std::string ClockText(const RecorderClock& c) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u:%02u", c.year, c.month, c.day, c.hour, c.minute,
                c.second);
  return buf;
}

}  // namespace lyr
