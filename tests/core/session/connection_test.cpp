#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "link/recorder_link.h"
#include "platform/byte_order.h"
#include "session/connection.h"
#include "settings/recorder_model.h"
#include "support/emulated_recorder.h"
#include "support/spy_device.h"

namespace {

// The command blocks a link wrote, as (group, code) pairs.
std::vector<std::pair<int, int>> Commands(const std::vector<lyr_test::Transfer>& log) {
  std::vector<std::pair<int, int>> out;
  for (const auto& t : log)
    if (t.write && t.head.size() >= 16 && lyr::GetU32(t.head.data()) == lyr::protocol::kBlockTag)
      out.emplace_back(lyr::GetU16(t.head.data() + 12), lyr::GetU16(t.head.data() + 14));
  return out;
}

TEST(ConnectionSequence, OutcomesAndTheCommandsSent) {
  using lyr::ConnectionResult;
  using Cmds = std::vector<std::pair<int, int>>;
  const Cmds identify = {{0, 5}, {0, 0}};
  const Cmds full = {{0, 5}, {0, 0}, {0, 1}, {0, 0}, {0, 8}, {0, 6}, {0, 0}, {1, 0}};
  struct Case {
    const char* what;
    void (*setup)(lyr_emu::RecorderConfig&);
    ConnectionResult result;
    Cmds commands;
    bool usable;
  } cases[] = {
      {"usable", [](lyr_emu::RecorderConfig&) {}, ConnectionResult::kReady, full, true},
      {"refusal pattern", [](lyr_emu::RecorderConfig& c) { c.refused = true; }, ConnectionResult::kRefused,
       identify, false},
      {"access locked",
       [](lyr_emu::RecorderConfig& c) { c.access_locked = true; },
       ConnectionResult::kAccessLocked,
       {{0, 5}, {0, 0}, {0, 1}, {0, 0}},
       false},
      // Released without sending anything.
      {"firmware 5.999", [](lyr_emu::RecorderConfig& c) { c.firmware_version = 5999; },
       ConnectionResult::kOldFirmware, full, false},
      {"firmware 6.000", [](lyr_emu::RecorderConfig& c) { c.firmware_version = 6000; },
       ConnectionResult::kReady, full, true},
      {"gone after the hello block", [](lyr_emu::RecorderConfig& c) { c.disconnect_after = 1; },
       ConnectionResult::kNoAnswer, identify, false},
      {"gone before the settings",
       [](lyr_emu::RecorderConfig& c) { c.disconnect_after = 4; },
       ConnectionResult::kNoSettings,
       {{0, 5}, {0, 0}, {0, 1}, {0, 0}, {0, 8}},
       false},
  };
  for (const Case& c : cases) {
    lyr_test::EmulatedRecorder rec;
    c.setup(rec.config());
    std::vector<lyr_test::Transfer> log;
    lyr::RecorderLink link([&](const std::string&) {
      return lyr::RawDriveOpenResult(std::make_unique<lyr_test::SpyDevice>(rec.emulator().Connect(), &log));
    });
    link.SetSettleDelay(std::chrono::milliseconds(0));
    link.ResetLinkState();
    ASSERT_EQ(link.OpenLink("stand-in"), 0);
    link.SetDriveOpen(true);
    lyr::RecorderModel model;
    model.Device().fill(0x5A);  // stale values of an earlier recorder

    EXPECT_EQ(lyr::CompleteConnection(link, model), c.result) << c.what;
    EXPECT_EQ(Commands(log), c.commands) << c.what;
    const bool usable = link.IsDriveOpen() && link.IsAccessGranted() && !link.IsRecorderRefused();
    EXPECT_EQ(usable, c.usable) << c.what;
    if (c.result == ConnectionResult::kReady || c.result == ConnectionResult::kOldFirmware) {
      EXPECT_EQ(model.FirmwareVersion(), rec.config().firmware_version) << c.what;
      EXPECT_EQ(lyr::GetU16(model.Settings().data() + 40), 216) << c.what;  // committed
    } else {
      EXPECT_EQ(model.FirmwareVersion(), 0) << c.what;  // the model was reset
    }
  }
}

}  // namespace
