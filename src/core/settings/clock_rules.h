#pragma once
#include <optional>
#include <string>

#include "link/recorder_link.h"
#include "platform/result.h"
#include "settings/recorder_model.h"

namespace lyr {

// The TIME & DATE page's ranges: years 2000 to 2099, the Gregorian months.
inline constexpr int kClockFirstYear = 2000;
inline constexpr int kClockLastYear = 2099;

// Days of `month` (1 to 12) in `year`, February 29 in Gregorian leap years.
int MonthLength(int year, int month);

// Whether every field is one the page's lists offer.
bool IsClockOffered(const RecorderClock& clock);

// The time the page proposes: the PC's local time, with the year raised to
// 2000 when it is earlier.
LocalDateTime ProposedClockTime(LocalDateTime pc_now);

// The page's "recorder differs" test: the proposed time and the recorder's
// clock at least 2 s apart (rounded to the nearest second), or the
// recorder's clock unknown.
bool RecorderClockDiffers(LocalDateTime proposed, std::optional<LocalDateTime> recorder_now);

// "YYYY-MM-DD HH:MM:SS" as a clock the page could have set; the error
// (ERROR_INVALID_PARAMETER) says what is wrong with it.
Result<RecorderClock> ParseClockText(const std::string& text);

// The clock as "YYYY-MM-DD HH:MM:SS".
std::string ClockText(const RecorderClock& clock);

}  // namespace lyr
