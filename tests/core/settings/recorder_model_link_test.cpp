// The model's exchanges with a recorder, against the in-process stand-in.
#include <gtest/gtest.h>

#include "link/protocol.h"
#include "platform/byte_order.h"
#include "settings/recorder_model.h"
#include "support/emulated_recorder.h"

namespace {

using lyr::GetU16;
using lyr::GetU32;

// The record as Commit must leave it: every byte as before except the fixed values.
std::array<uint8_t, 248> WithFixedValues(std::array<uint8_t, 248> r) {
  const std::pair<size_t, uint16_t> shorts[] = {{32, 2}, {34, 2}, {36, 0},  {38, 0}, {40, 216},
                                                {42, 0}, {44, 0}, {120, 0}, {122, 2}};
  const std::pair<size_t, uint32_t> longs[] = {{48, 0},  {52, 0},  {56, 0},  {124, 5}, {128, 0},
                                               {156, 0}, {184, 0}, {212, 0}, {240, 2}};
  for (auto [off, v] : shorts) lyr::PutU16(r.data() + off, v);
  for (auto [off, v] : longs) lyr::PutU32(r.data() + off, v);
  return r;
}

TEST(RecorderModelLink, CommitWritesExactlyTheFixedValues) {
  lyr_test::EmulatedRecorder rec;
  auto link = rec.MakeLink();
  lyr::RecorderModel model;
  for (size_t i = 0; i < model.Settings().size(); ++i) model.Settings()[i] = static_cast<uint8_t>(0xC0 ^ i);
  const auto before = model.Settings();
  ASSERT_EQ(model.Commit(*link), 1);
  EXPECT_EQ(model.Settings(), WithFixedValues(before));
  EXPECT_EQ(rec.store().settings(), WithFixedValues(before));
}

TEST(RecorderModelLink, RefreshReadsCommitsAndTimestamps) {
  lyr_test::EmulatedRecorder rec;
  rec.store().settings().fill(0x11);
  rec.config().firmware_version = 6021;
  rec.config().memory_units = 1000;
  auto link = rec.MakeLink();
  lyr::RecorderModel model;
  const auto before = std::chrono::system_clock::now();
  ASSERT_EQ(model.Refresh(*link), 1);

  std::array<uint8_t, 248> expected;
  expected.fill(0x11);
  EXPECT_EQ(model.Settings(), WithFixedValues(expected));
  EXPECT_EQ(rec.store().settings(), WithFixedValues(expected));
  EXPECT_EQ(model.FirmwareVersion(), 6021);
  EXPECT_EQ(GetU32(model.MemoryStatus().data() + lyr::protocol::kMemSizeUnits), 1000u);
  // The refresh time is the PC's local time now (within a day of UTC).
  const auto local = model.RefreshTime().time_since_epoch();
  const auto utc = before.time_since_epoch();
  EXPECT_LT(std::chrono::abs(std::chrono::duration_cast<std::chrono::hours>(local - utc)).count(), 25);
  // The recorder clock read with it advances from there.
  EXPECT_TRUE(model.RecorderNow().has_value());
}

TEST(RecorderModelLink, RefreshFailsOnlyWhenTheSettingsCannotBeRead) {
  lyr_test::EmulatedRecorder rec;
  auto link = rec.MakeLink(false);  // drive open, access not granted
  lyr::RecorderModel model;
  model.Settings().fill(0x22);
  model.Device().fill(0x33);
  EXPECT_EQ(model.Refresh(*link), 0);
  for (uint8_t b : model.Settings()) ASSERT_EQ(b, 0x22);
  for (uint8_t b : model.Device()) ASSERT_EQ(b, 0x33);

  // Settings read, but the link drops right after: the later commands'
  // failures are ignored and their records keep what they held.
  auto ready = rec.MakeLink();
  rec.config().disconnect_after = rec.emulator().stats().commands + 1;
  model.Device().fill(0x33);
  EXPECT_EQ(model.Refresh(*ready), 1);
  for (uint8_t b : model.Device()) ASSERT_EQ(b, 0x33);
}

}  // namespace
