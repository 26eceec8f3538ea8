#include <gtest/gtest.h>

#include <chrono>
#include <cstring>

#include "platform/last_error.h"
#include "core/playback/playback_fixture.h"
#include "playback/player_stream.h"

namespace lyr {
namespace {

using test::WaitFor;
using Clock = std::chrono::steady_clock;

class PlayerBufferTest : public test::PlaybackFixture {
 protected:
  // Opens `entry` on the player buffer as a stream does.
  void StartOn(uint32_t entry) {
    RecordingRecordBytes bytes{};
    ASSERT_EQ(link_->GetRecordingInfo(entry, bytes), 1);
    buffer_->BuffMgrSetFile(RecordingRecord(bytes));
    buffer_->BuffMgrStart();
  }
  // Everything a reader gets until the end of the recording.
  std::vector<uint8_t> ReadToEnd() {
    std::vector<uint8_t> out;
    uint8_t piece[10000];
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (Clock::now() < deadline) {
      const uint32_t n = buffer_->BuffMgrRead(piece, sizeof piece);
      out.insert(out.end(), piece, piece + n);
      if (n == 0) {
        if ((buffer_->BuffMgrGetState() & BUFFMGR_END) && buffer_->Unread() == 0) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    }
    return out;
  }
  std::vector<uint8_t> ReadExactly(uint32_t length) {
    std::vector<uint8_t> out(length);
    uint32_t got = 0;
    EXPECT_TRUE(WaitFor([&] {
      got += buffer_->BuffMgrRead(out.data() + got, length - got);
      return got == length;
    }));
    return out;
  }
};

TEST_F(PlayerBufferTest, ReadsTheRecordingInChunksToItsEnd) {
  // Not a multiple of the chunk size: the last chunk is short.
  const auto data = lyr_test::EmulatedRecorder::Pattern(3 * 32768 + 1234, 7);
  const uint32_t entry = AddPcm(data);
  Connect();
  StartOn(entry);
  EXPECT_EQ(ReadToEnd(), data);
  EXPECT_EQ(buffer_->BuffMgrGetPosition(), data.size());
  EXPECT_EQ(buffer_->ChunksRead(), 4u);
  EXPECT_EQ(buffer_->WaitTimeout(), PlayerBuffer::kInfinite) << "no polling at the end";

  // Stop empties everything; a new start reads from the beginning again.
  buffer_->BuffMgrStop();
  ASSERT_TRUE(WaitFor([&] { return (buffer_->BuffMgrGetState() & BUFFMGR_STOP) == 0; }));
  EXPECT_EQ(buffer_->BuffMgrGetState() & BUFFMGR_END, 0u);
  EXPECT_EQ(buffer_->BuffMgrGetPosition(), 0u);
  EXPECT_EQ(buffer_->Filled(), 0u);
  buffer_->BuffMgrStart();
  EXPECT_EQ(ReadToEnd(), data);
}

TEST_F(PlayerBufferTest, EmptyRecordingEndsAtTheFirstFillStep) {
  const uint32_t entry = AddPcm({});
  Connect();
  StartOn(entry);
  ASSERT_TRUE(WaitFor([&] { return (buffer_->BuffMgrGetState() & BUFFMGR_END) != 0; }));
  EXPECT_EQ(buffer_->ChunksRead(), 0u);
}

TEST_F(PlayerBufferTest, SeeksInsideHeldDataAreServedFromMemory) {
  const auto data = lyr_test::EmulatedRecorder::Pattern(6 * 32768, 3);
  const uint32_t entry = AddPcm(data);
  Connect();
  StartOn(entry);
  ASSERT_TRUE(WaitFor([&] { return (buffer_->BuffMgrGetState() & BUFFMGR_END) != 0; }));
  const uint32_t end = static_cast<uint32_t>(data.size());
  ReadExactly(100000);
  const uint64_t chunks = buffer_->ChunksRead();

  struct Case {
    uint32_t target;
    bool held;
  };
  // The ring holds [F - filled, F) with F the end of the recording here.
  const Case cases[] = {{10000, true}, {0, true}, {end - 1, true}, {end, false}, {50000, false}};
  for (const Case& c : cases) {
    const uint64_t before = buffer_->ChunksRead();
    buffer_->BuffMgrSeek(c.target);
    ASSERT_TRUE(WaitFor([&] { return (buffer_->BuffMgrGetState() & BUFFMGR_SEEK) == 0; }));
    EXPECT_EQ(buffer_->BuffMgrGetPosition(), c.target) << c.target;
    if (c.held) {
      EXPECT_EQ(buffer_->ChunksRead(), before) << c.target;
      EXPECT_EQ(buffer_->Unread(), end - c.target) << c.target;
    }
    const std::vector<uint8_t> got = ReadToEnd();
    ASSERT_EQ(got.size(), end - c.target) << c.target;
    EXPECT_TRUE(std::equal(got.begin(), got.end(), data.begin() + c.target)) << c.target;
    // Outside the held data the ring starts again at the target.
    if (!c.held && c.target < end) {
      EXPECT_GT(buffer_->ChunksRead(), before) << c.target;
    }
  }
  EXPECT_GT(buffer_->ChunksRead(), chunks);
}

TEST_F(PlayerBufferTest, FullRingStopsPollingUntilTheReaderCatchesUp) {
  const auto data = lyr_test::EmulatedRecorder::Pattern(3 * 1048576, 5);
  const uint32_t entry = AddPcm(data);
  Connect();
  StartOn(entry);
  ASSERT_TRUE(WaitFor([&] { return buffer_->WaitTimeout() == PlayerBuffer::kInfinite; }));
  EXPECT_EQ(buffer_->Filled(), PlayerBuffer::kRingSize);
  EXPECT_EQ(buffer_->Unread(), PlayerBuffer::kRingSize);
  // Down to 600,000 unread: every read wakes the worker, which reads nothing.
  const auto first = ReadExactly(PlayerBuffer::kRingSize - 600000);
  const uint64_t chunks = buffer_->ChunksRead();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(buffer_->ChunksRead(), chunks);
  EXPECT_EQ(buffer_->WaitTimeout(), PlayerBuffer::kInfinite);
  // At 524,288 unread the older half is dropped and reading goes on.
  const auto second = ReadExactly(600000 - PlayerBuffer::kLowWater);
  ASSERT_TRUE(WaitFor([&] { return buffer_->ChunksRead() > chunks; }));
  EXPECT_LT(buffer_->Filled(), PlayerBuffer::kRingSize);
  std::vector<uint8_t> all = first;
  all.insert(all.end(), second.begin(), second.end());
  const auto rest = ReadToEnd();
  all.insert(all.end(), rest.begin(), rest.end());
  EXPECT_EQ(all, data);
}

TEST_F(PlayerBufferTest, FailedReadStopsTheWorkerAndIsReportedAfterTheHeldData) {
  const auto data = lyr_test::EmulatedRecorder::Pattern(8 * 32768, 9);
  const uint32_t entry = AddPcm(data);
  recorder_.config().read_fail_offset = 3 * 32768 + 10;
  Connect();
  StartOn(entry);
  ASSERT_TRUE(WaitFor([&] { return (buffer_->BuffMgrGetState() & BUFFMGR_READ_ERROR) != 0; }));
  EXPECT_EQ(buffer_->ReadErrorCode(), kErrorConnectionUnavail);
  const uint64_t chunks = buffer_->ChunksRead();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(buffer_->ChunksRead(), chunks) << "the recorder is not asked again and again";
  // Only what was read is delivered: the failed chunk is no audio.
  std::vector<uint8_t> got(data.size());
  uint32_t n = 0;
  while (uint32_t piece = buffer_->BuffMgrRead(got.data() + n, 5000)) n += piece;
  got.resize(n);
  EXPECT_EQ(n % 32768, 0u);
  EXPECT_LE(n, 3u * 32768);
  EXPECT_EQ(got, std::vector<uint8_t>(data.begin(), data.begin() + n));
  // A stop clears the error for the next recording.
  buffer_->BuffMgrStop();
  ASSERT_TRUE(WaitFor([&] { return (buffer_->BuffMgrGetState() & BUFFMGR_STOP) == 0; }));
  EXPECT_EQ(buffer_->BuffMgrGetState() & BUFFMGR_READ_ERROR, 0u);
}

TEST_F(PlayerBufferTest, ExitWakesEveryWait) {
  const auto data = lyr_test::EmulatedRecorder::Pattern(4 * 32768, 2);
  const uint32_t entry = AddPcm(data);
  Connect();
  const auto destroy_within = [&](const char* when) {
    const auto start = Clock::now();
    buffer_.reset();
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1500)) << when;
    buffer_ = PlayerBuffer::BuffMgrCreate(*link_);
  };
  destroy_within("idle");
  StartOn(entry);
  ASSERT_TRUE(WaitFor([&] { return (buffer_->BuffMgrGetState() & BUFFMGR_END) != 0; }));
  destroy_within("waiting without a timeout at the end");
  // While a slow recorder answers a chunk read.
  recorder_.config().slow_reply_ms = 300;
  StartOn(entry);
  ASSERT_TRUE(WaitFor([&] { return (buffer_->BuffMgrGetState() & BUFFMGR_READING) != 0; }));
  destroy_within("reading");
}

}  // namespace
}  // namespace lyr
