#include "gui/frame/status_panel.h"

#include <gtest/gtest.h>

#include <QWidget>

#include "settings/settings_templates.h"
#include "support/qt_env.h"

using namespace lyr;

namespace {

using lyr_test::MarkUsable;

constexpr size_t kLevel = CStatusPanel::kDevLevel;

struct PanelFixture : ::testing::Test {
  lyr::RecorderModel model;
  lyr::RecorderLink link;
  lyr::TaskQueue worker;

  // 1 GiB free of 2 GiB in 512-byte units, firmware 6012, clock 29.02.2024
  // 13:05:09, and the given file type.
  void Fill(uint32_t codec, uint32_t rate, uint32_t bit_rate, uint16_t channels, const char* prefix,
            const char* ext, uint16_t level = 0) {
    lyr::MemoryStatusRecord memory{};
    lyr::PutU32(memory.data() + lyr::protocol::kMemSizeUnits, 4194304);
    lyr::PutU32(memory.data() + lyr::protocol::kMemUnitSize, 512);
    lyr::PutU32(memory.data() + lyr::protocol::kMemFreeUnits, 2097152);
    lyr::DeviceRecord device{};
    lyr::PutU16(device.data() + lyr::protocol::kDevFirmwareVersion, 6012);
    lyr_test::SetDeviceClock(device, {2024, 2, 29, 13, 5, 9});
    lyr::PutU16(device.data() + kLevel, level);
    model.TakeStatus(device, memory, std::chrono::steady_clock::now());
    lyr::FileFormatTemplate f;
    f.codecid = codec;
    f.samplerate = rate;
    f.bitrate = bit_rate;
    f.channels = channels;
    f.bits = 16;
    lyr::SetFieldText(f.filename, sizeof f.filename, prefix);
    lyr::SetFieldText(f.extname, sizeof f.extname, ext);
    model.SetSettingsFileFormat(f);
  }
};

TEST_F(PanelFixture, TextsFromTheModel) {
  struct Case {
    uint32_t codec, rate, bit_rate;
    uint16_t channels;
    const char* prefix;
    const char* ext;
    const char* remaining;
    const char* file_type;
  };
  const Case cases[] = {
      // 1 GiB at 16000 bytes a second.
      {0x7000F, 48000, 128000, 2, "USER", "MP2", "  18h 38m 28s", "MP2 ST 48 kHz\nUSERxxxx.MP2"},
      // PCM counts bits x channels x rate (1536000), whatever bit rate is stored.
      {0x70001, 48000, 64000, 2, "USER", "WAV", "   1h 33m 12s", "PCM ST 48 kHz\nUSERxxxx.WAV"},
      {0x70001, 44100, 0, 1, "TAPE", "WAV", "   3h 22m 53s", "PCM MO 44 kHz\nTAPExxxx.WAV"},
      // A bit rate of 0 or less is taken as 8 (one byte a second).
      {0x7000F, 32000, 0, 2, "A", "MP2", "298261h 37m 04s", "MP2 ST 32 kHz\nAxxxx.MP2"},
      {0x7000F, 32000, 0x80000000u, 2, "A", "MP2", "298261h 37m 04s", "MP2 ST 32 kHz\nAxxxx.MP2"},
      // A bit rate under 8 would divide by nothing.
      {0x7000F, 32000, 5, 2, "A", "MP2", "298261h 37m 04s", "MP2 ST 32 kHz\nAxxxx.MP2"},
      // Fields that fill their width have no terminator: no more is read.
      {0x7000F, 32000, 128000, 2, "ABCDEFGH", "MPEG", "  18h 38m 28s", "MP2 ST 32 kHz\nABCDEFGHxxxx.MPEG"},
  };
  MarkUsable(link);
  for (const Case& c : cases) {
    Fill(c.codec, c.rate, c.bit_rate, c.channels, c.prefix, c.ext);
    CStatusPanel panel(model, link, worker);
    EXPECT_EQ(panel.RemainingTimeText().toStdString(), c.remaining) << c.file_type;
    EXPECT_EQ(panel.FileTypeText().toStdString(), c.file_type);
    EXPECT_EQ(panel.MemoryText().toStdString(), "Free 1024 MB\nV6.012");
    EXPECT_EQ(panel.DateTimeText().toStdString(), "D 29.02.2024\nT 13:05:09");
    // The fresh read fails (no drive): the records stay as they were.
    ASSERT_TRUE(lyr_test::WaitFor([&] { return !panel.IsReading(); }));
    EXPECT_EQ(panel.FileTypeText().toStdString(), c.file_type);
    EXPECT_EQ(panel.MemoryText().toStdString(), "Free 1024 MB\nV6.012");
  }
}

TEST_F(PanelFixture, FreeMemoryBeyondTheSizeCountsOnlyTheSizeForTheTime) {
  MarkUsable(link);
  Fill(0x7000F, 48000, 128000, 2, "USER", "MP2");
  // 3 GiB free of 2 GiB: the time counts 2 GiB, the memory text all of it.
  lyr::PutU32(model.MemoryStatus().data() + lyr::protocol::kMemFreeUnits, 6291456);
  CStatusPanel panel(model, link, worker);
  EXPECT_EQ(panel.RemainingTimeText().toStdString(), "  37h 16m 57s");
  EXPECT_EQ(panel.MemoryText().toStdString(), "Free 3072 MB\nV6.012");
}

TEST(LevelMeter, SegmentColours) {
  using P = CStatusPanel;
  constexpr int G = P::kGreen, Y = P::kYellow, R = P::kRed, _ = P::kGrey;
  struct Case {
    int level;
    std::array<int, 10> colours;  // bottom segment first
  };
  const Case cases[] = {
      {0, {_, _, _, _, _, _, _, _, _, _}},   {219, {_, _, _, _, _, _, _, _, _, _}},
      {229, {_, _, _, _, _, _, _, _, _, _}}, {235, {R, _, _, _, _, _, _, _, _, _}},
      {240, {G, Y, Y, _, _, _, _, _, _, _}}, {265, {G, G, G, Y, Y, _, _, _, _, _}},
      {319, {G, G, G, G, G, G, G, G, Y, Y}}, {320, {G, G, G, G, G, G, G, G, G, G}},
      {330, {G, G, G, G, G, G, G, G, G, G}}, {331, {G, G, G, G, G, G, G, G, G, G}},
  };
  lyr::RecorderModel model;
  lyr::RecorderLink link;
  lyr::TaskQueue worker;
  CStatusPanel panel(model, link, worker);
  for (const Case& c : cases) {
    EXPECT_EQ(P::LevelColours(c.level), c.colours) << c.level;
    panel.SetLevel(c.level);
    for (int i = 0; i < 10; ++i)
      EXPECT_EQ(panel.SegmentColour(i), c.colours[i]) << c.level << " segment " << i;
  }
  // The colours as painted; any other index paints white.
  EXPECT_EQ(CLevelSegment::ColourOf(P::kRed), QColor(255, 0, 0));
  EXPECT_EQ(CLevelSegment::ColourOf(P::kYellow), QColor(255, 255, 0));
  EXPECT_EQ(CLevelSegment::ColourOf(P::kGrey), QColor(128, 128, 128));
  EXPECT_EQ(CLevelSegment::ColourOf(7), QColor(255, 255, 255));
}

TEST_F(PanelFixture, UnpluggedEmptiesEveryTextAndGreysTheMeter) {
  MarkUsable(link);
  Fill(0x7000F, 48000, 128000, 2, "USER", "MP2", 330);
  CStatusPanel panel(model, link, worker);
  EXPECT_EQ(panel.SegmentColour(9), CStatusPanel::kGreen) << "the level from the device record";
  ASSERT_TRUE(lyr_test::WaitFor([&] { return !panel.IsReading(); }));
  MarkUsable(link, false);
  model.NotifyListeners(nullptr);
  for (const QString& text :
       {panel.RemainingTimeText(), panel.FileTypeText(), panel.DateTimeText(), panel.MemoryText()})
    EXPECT_TRUE(text.isEmpty()) << text.toStdString();
  for (int i = 0; i < 10; ++i) EXPECT_EQ(panel.SegmentColour(i), CStatusPanel::kGrey);
  // And the clock stays empty.
  QTest::qWait(CStatusPanel::kClockIntervalMs + 200);
  EXPECT_TRUE(panel.DateTimeText().isEmpty());
}

TEST_F(PanelFixture, ClockRunsOnAndRegistrationFollowsThePanel) {
  MarkUsable(link);
  Fill(0x7000F, 48000, 128000, 2, "USER", "MP2");
  {
    CStatusPanel panel(model, link, worker);
    ASSERT_EQ(model.Listeners().size(), 1u);
    ASSERT_TRUE(lyr_test::WaitFor([&] { return panel.DateTimeText() == "D 29.02.2024\nT 13:05:10"; },
                                  std::chrono::milliseconds(2500)))
        << panel.DateTimeText().toStdString();
  }
  EXPECT_TRUE(model.Listeners().empty());
}

TEST_F(PanelFixture, TheBlockFollowsTheRightEdgeUntilTheSeparator) {
  CStatusPanel panel(model, link, worker);
  auto* separator = panel.findChild<QWidget*>("separator");
  auto* caption = panel.findChild<QWidget*>("caption");
  ASSERT_NE(separator, nullptr);
  QWidget* block = caption->parentWidget();
  const QSize least = panel.minimumSizeHint();
  panel.show();
  panel.resize(least.width() + 400, least.height());
  EXPECT_EQ(block->geometry().right(), panel.width() - 1 - 16);
  panel.resize(least.width() - 100, least.height());
  EXPECT_EQ(block->x(), separator->geometry().right() + 16);
  // The segments stay in one column, bottom to top.
  for (int i = 1; i < 10; ++i) {
    auto* lower = block->findChild<QWidget*>(QStringLiteral("segment%1").arg(i - 1));
    auto* upper = block->findChild<QWidget*>(QStringLiteral("segment%1").arg(i));
    EXPECT_EQ(lower->x(), upper->x());
    EXPECT_LT(upper->y(), lower->y());
  }
}

}  // namespace
