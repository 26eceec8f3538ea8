#include "settings/recorder_model.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "link/protocol.h"
#include "platform/byte_order.h"

namespace {

using lyr::ModelListener;
using lyr::RecorderModel;

// Records the calls it gets, in order, into a shared log.
class LoggingListener : public ModelListener {
 public:
  LoggingListener(std::string name, std::vector<std::string>* log) : name_(std::move(name)), log_(log) {}
  void LoadFromModel() override { log_->push_back(name_ + ".Load"); }
  void Prepare() override { log_->push_back(name_ + ".Prepare"); }
  void Show() override { log_->push_back(name_ + ".Show"); }

 private:
  std::string name_;
  std::vector<std::string>* log_;
};

using Log = std::vector<std::string>;

TEST(RecorderModel, ListenersAttachOnceAndNotifySkipsTheOrigin) {
  RecorderModel model;
  Log log;
  LoggingListener a("a", &log), b("b", &log);
  model.AddListener(&a);
  model.AddListener(&b);
  model.AddListener(&a);  // listed once, attached again
  EXPECT_EQ(model.Listeners().size(), 2u);
  EXPECT_EQ(a.Model(), &model);
  EXPECT_EQ(log, (Log{"a.Prepare", "a.Show", "b.Prepare", "b.Show", "a.Prepare", "a.Show"}));

  log.clear();
  model.NotifyListeners(&a);
  EXPECT_EQ(log, (Log{"b.Load", "b.Show"}));
  log.clear();
  model.NotifyListeners(nullptr);
  EXPECT_EQ(log, (Log{"a.Load", "a.Show", "b.Load", "b.Show"}));

  model.RemoveListener(&a);
  EXPECT_EQ(a.Model(), nullptr);
  log.clear();
  model.NotifyListeners(nullptr);
  EXPECT_EQ(log, (Log{"b.Load", "b.Show"}));

  // Attaching to no model changes nothing.
  log.clear();
  b.Attach(nullptr);
  EXPECT_EQ(b.Model(), &model);
  EXPECT_TRUE(log.empty());
}

TEST(RecorderModel, ListenersAndModelMayGoInEitherOrder) {
  Log log;
  auto model = std::make_unique<RecorderModel>();
  auto first = std::make_unique<LoggingListener>("a", &log);
  LoggingListener second("b", &log);
  model->AddListener(first.get());
  model->AddListener(&second);
  first.reset();  // a page destroyed while still registered
  EXPECT_EQ(model->Listeners().size(), 1u);
  log.clear();
  model->NotifyListeners(nullptr);
  EXPECT_EQ(log, (Log{"b.Load", "b.Show"}));
  model.reset();
  EXPECT_EQ(second.Model(), nullptr);
}

// A listener that unregisters itself while being told of a change.
class LeavingListener : public ModelListener {
 public:
  void LoadFromModel() override { model_->RemoveListener(this); }
  void Prepare() override {}
  void Show() override { ++shows; }
  int shows = 0;
};

TEST(RecorderModel, AListenerMayLeaveDuringNotify) {
  RecorderModel model;
  LeavingListener leaving;
  Log log;
  LoggingListener after("b", &log);
  model.AddListener(&leaving);
  model.AddListener(&after);
  log.clear();
  model.NotifyListeners(nullptr);
  EXPECT_EQ(model.Listeners().size(), 1u);
  EXPECT_EQ(log, (Log{"b.Load", "b.Show"}));
}

TEST(RecorderModel, ResetZeroesTheRecords) {
  RecorderModel model;
  model.Settings().fill(0xAB);
  model.MemoryStatus().fill(0xCD);
  model.Device().fill(0xEF);
  model.Reset();
  for (uint8_t b : model.Settings()) ASSERT_EQ(b, 0);
  for (uint8_t b : model.MemoryStatus()) ASSERT_EQ(b, 0);
  for (uint8_t b : model.Device()) ASSERT_EQ(b, 0);
}

void SetClock(RecorderModel& model, std::array<uint16_t, 6> fields) {
  for (int i = 0; i < 6; ++i)
    lyr::PutU16(model.Device().data() + lyr::protocol::kDevClock + 2 * i, fields[i]);
}

std::array<uint16_t, 6> ClockOf(const RecorderModel& model) {
  std::array<uint16_t, 6> f{};
  for (int i = 0; i < 6; ++i) f[i] = lyr::GetU16(model.Device().data() + lyr::protocol::kDevClock + 2 * i);
  return f;
}

TEST(RecorderModel, RecorderNowClampsTheClockAndAddsTheElapsedTime) {
  RecorderModel model;
  const auto now = std::chrono::steady_clock::now();

  SetClock(model, {2011, 8, 19, 10, 20, 37});
  auto when = model.RecorderNow(now + std::chrono::seconds(90));
  ASSERT_TRUE(when.has_value());
  lyr::RecorderClock c = lyr::BreakDown(*when);
  EXPECT_EQ((std::array<uint16_t, 6>{c.year, c.month, c.day, c.hour, c.minute, c.second}),
            (std::array<uint16_t, 6>{2011, 8, 19, 10, 22, 7}));

  // Every field at its limit plus one, clamped in the record itself.
  SetClock(model, {2100, 13, 40, 24, 60, 60});
  when = model.RecorderNow(now);
  EXPECT_EQ(ClockOf(model), (std::array<uint16_t, 6>{2099, 12, 31, 23, 59, 59}));
  ASSERT_TRUE(when.has_value());
  c = lyr::BreakDown(*when);
  EXPECT_EQ(c.year, 2099);
  EXPECT_EQ(c.hour, 23);

  // Fields that make no date: a zeroed record, the 31st of a 30-day month.
  SetClock(model, {0, 0, 0, 0, 0, 0});
  EXPECT_FALSE(model.RecorderNow(now).has_value());
  SetClock(model, {2011, 4, 31, 0, 0, 0});
  EXPECT_FALSE(model.RecorderNow(now).has_value());
}

TEST(RecorderModel, SettingsRecordCarriesBothTemplateLayouts) {
  RecorderModel model;
  lyr::InputTemplate in;
  lyr::SetFieldText(in.name, 32, "In");
  in.out_vol = -10;
  in.flt = 7;
  lyr::FileFormatTemplate fmt;
  lyr::SetFieldText(fmt.filename, 8, "USER");
  fmt.codecid = lyr::protocol::kCodecMpegLayer2;
  fmt.bits = 16;
  model.SetSettingsInput(in);
  model.SetSettingsFileFormat(fmt);
  const uint8_t* s = model.Settings().data();
  EXPECT_EQ(lyr::GetU16(s + 44), 0xFFF6);                                    // out_vol
  EXPECT_EQ(lyr::GetU32(s + 56), 7u);                                        // flt
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(s + 92), 4), "USER");  // file name prefix
  EXPECT_EQ(lyr::GetU32(s + 104), 0x7000Fu);
  EXPECT_EQ(lyr::GetU16(s + 118), 16);
  EXPECT_EQ(model.SettingsInput().out_vol, -10);
  EXPECT_EQ(model.SettingsFileFormat().codecid, 0x7000Fu);
}

}  // namespace

namespace {

// Byte figures are 64-bit products, and free beyond size gives no used bytes.
TEST(RecorderModel, MemoryFiguresFromTheStatusRecord) {
  struct Case {
    uint32_t units, unit, free_units;
    uint64_t size, free_bytes, used;
  } cases[] = {
      {1000, 32768, 250, 32768000, 8192000, 24576000},
      {0x200000, 0x10000, 0x100000, 0x2000000000ull, 0x1000000000ull, 0x1000000000ull},  // 128 GiB
      {100, 512, 150, 51200, 76800, 0},
  };
  for (const Case& c : cases) {
    RecorderModel model;
    uint8_t* m = model.MemoryStatus().data();
    lyr::PutU32(m + lyr::protocol::kMemSizeUnits, c.units);
    lyr::PutU32(m + lyr::protocol::kMemUnitSize, c.unit);
    lyr::PutU32(m + lyr::protocol::kMemFreeUnits, c.free_units);
    lyr::PutU32(m + lyr::protocol::kMemListCount, 7);
    const lyr::MemoryFigures f = model.Memory();
    EXPECT_EQ(f.SizeBytes(), c.size);
    EXPECT_EQ(f.FreeBytes(), c.free_bytes);
    EXPECT_EQ(f.UsedBytes(), c.used);
    EXPECT_EQ(f.list_count, 7u);
  }
}

}  // namespace
