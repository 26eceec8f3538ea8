// lyrctl set-clock: sets the recorder's clock to the PC's time or a given one,
// with the TIME & DATE page's ranges.
#include <cstdio>
#include <nlohmann/json.hpp>

#include "cli_support.h"
#include "link/link_commands.h"
#include "link/protocol.h"
#include "platform/byte_order.h"
#include "settings/clock_rules.h"
#include "text_output.h"

namespace lyrctl {
namespace {

struct ClockArgs {
  bool now = false;
  std::string time;
  const CLI::Option* time_option = nullptr;  // given, even as ""
};

lyr::Status RunSetClock(const GlobalOptions& options, const ClockArgs& args) {
  lyr::RecorderClock clock;
  // --time "" is a time that does not parse, never a request for the PC's.
  const bool given = args.time_option != nullptr && args.time_option->count() > 0;
  if (given) {
    auto parsed = lyr::ParseClockText(args.time);
    if (!parsed) return UsageError("--time: " + parsed.error().context);
    clock = parsed.value();
  }
  LYR_TRY_ASSIGN(RecorderSession session, OpenRecorderSession(options));
  // The PC's time is taken once the recorder is open, so that it is not stale.
  if (!given) {
    clock = lyr::BreakDown(lyr::ProposedClockTime(lyr::LocalNow()));
    if (!lyr::IsClockOffered(clock))
      return Failure("the PC's clock reads " + lyr::ClockText(clock) +
                     ", outside the recorder's years 2000 to 2099");
  }
  lyr::LinkCommands commands(*session.link);
  if (const lyr::Status set = commands.SetClock(clock); !set)
    return Failure("Access LYR Failed!: the recorder did not take the clock", set.error().code);
  const lyr::Result<lyr::DeviceRecord> read = commands.GetDeviceInfo();
  if (!read) return Failure("the clock was sent, but the recorder does not answer", read.error().code);
  const lyr::DeviceRecord& record = read.value();
  const uint8_t* c = record.data() + lyr::protocol::kDevClock;
  const lyr::RecorderClock now{lyr::GetU16(c),     lyr::GetU16(c + 2), lyr::GetU16(c + 4),
                               lyr::GetU16(c + 6), lyr::GetU16(c + 8), lyr::GetU16(c + 10)};
  if (options.json)
    PrintJson({{"set", lyr::ClockText(clock)}, {"recorder_clock", lyr::ClockText(now)}});
  else
    std::printf("Clock set to %s; the recorder now reads %s\n", lyr::ClockText(clock).c_str(),
                lyr::ClockText(now).c_str());
  return {};
}

}  // namespace

CommandRun AddSetClockCommand(CLI::App& cmd) {
  auto args = std::make_shared<ClockArgs>();
  CLI::Option* now = cmd.add_flag("--now", args->now, "Set the PC's local time (the default)");
  args->time_option = cmd.add_option("--time", args->time,
                                     "Set this local time, \"YYYY-MM-DD HH:MM:SS\" (years 2000 to 2099)")
                          ->excludes(now);
  cmd.footer("Example: lyrctl set-clock --time \"2026-12-10 09:30:00\"");
  return [args](const GlobalOptions& options) { return RunSetClock(options, *args); };
}

}  // namespace lyrctl
