#include "transfer/sha1.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "core/transfer/test_reporter.h"
#include "support/temp_dir.h"

namespace {

using lyr::Sha1Engine;

std::string Digest(Sha1Engine engine, const std::string& message, size_t chunk) {
  lyr::Sha1Context* c = lyr::Sha1Create();
  EXPECT_TRUE(lyr::Sha1SelectEngine(c, engine));
  lyr::Sha1Digest d{};
  size_t pos = 0;
  do {
    const size_t n = std::min(chunk, message.size() - pos);
    const bool last = pos + n == message.size();
    EXPECT_EQ(lyr::Sha1Update(c, message.data() + pos, static_cast<uint32_t>(n), last ? d.data() : nullptr),
              n);
    pos += n;
  } while (pos < message.size());
  lyr::Sha1Free(c);
  return lyr::Sha1DigestText(d.data());
}

std::vector<Sha1Engine> Engines() {
  std::vector<Sha1Engine> engines{Sha1Engine::Portable};
  if (lyr::Sha1EngineAvailable(Sha1Engine::ShaExtensions)) engines.push_back(Sha1Engine::ShaExtensions);
  return engines;
}

TEST(Sha1, FipsVectorsOnEveryEngine) {
  const struct {
    std::string message;
    const char* digest;
  } vectors[] = {
      {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
      {std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
      {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
  };
  for (Sha1Engine engine : Engines()) {
    for (const auto& v : vectors) {
      // Whole, and in pieces that straddle the 64-byte blocks.
      for (size_t chunk : {size_t{1} << 30, size_t{1}, size_t{63}, size_t{4097}}) {
        if (chunk == 1 && v.message.size() > 1000) continue;
        EXPECT_EQ(Digest(engine, v.message, chunk), v.digest)
            << "engine " << static_cast<int>(engine) << " chunk " << chunk << " length " << v.message.size();
      }
    }
  }
}

TEST(Sha1, ProcessorEngineAgreesWithPortableOnAllTailLengths) {
  if (!lyr::Sha1EngineAvailable(Sha1Engine::ShaExtensions)) GTEST_SKIP() << "no SHA instructions here";
  std::mt19937 random(7);
  std::string data(700, '\0');
  for (char& ch : data) ch = static_cast<char>(random());
  for (size_t length = 0; length <= data.size(); length += 1) {
    const std::string m = data.substr(0, length);
    ASSERT_EQ(Digest(Sha1Engine::ShaExtensions, m, 100), Digest(Sha1Engine::Portable, m, 100)) << length;
  }
}

class DigestFileTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, size_t size) {
    content_.resize(size);
    for (size_t i = 0; i < size; ++i) content_[i] = static_cast<char>(i * 7 + i / 251);
    const auto path = (dir_ / name).string();
    std::ofstream(path, std::ios::binary) << content_;
    return path;
  }
  std::string Expected() const { return Digest(Sha1Engine::Portable, content_, content_.size() + 1); }

  lyr_test::TempDir dir_;
  std::string content_;
  lyr_test::TestReporter reporter_;
};

TEST_F(DigestFileTest, WholePieceFileIsOneFinalPiece) {
  const std::string path = Write("a.wav", 4096);
  std::string text;
  ASSERT_TRUE(lyr::DigestFile(reporter_, path, 1, 2, &text));
  EXPECT_EQ(text, Expected());
  // Only the final piece's report: file 2 of 2 is complete.
  EXPECT_EQ(reporter_.events,
            (std::vector<std::string>{"status SHA1 Generating", "progress 100", "file 100"}));
}

TEST_F(DigestFileTest, OneByteOverIsAFullPieceAndAFinalByte) {
  const std::string path = Write("a.wav", 4097);
  std::string text;
  ASSERT_TRUE(lyr::DigestFile(reporter_, path, 1, 2, &text));
  EXPECT_EQ(text, Expected());
  // The full piece starts the second half of file 2's share: 75 %.
  EXPECT_EQ(reporter_.events, (std::vector<std::string>{"status SHA1 Generating", "progress 75", "file 0",
                                                        "progress 100", "file 100"}));
}

TEST_F(DigestFileTest, ProgressFillsTheSecondHalfOfTheFileShare) {
  const std::string path = Write("a.wav", 10 * 4096 + 3);
  std::string text;
  ASSERT_TRUE(lyr::DigestFile(reporter_, path, 0, 1, &text));
  EXPECT_EQ(text, Expected());
  EXPECT_EQ(reporter_.progress, (std::vector<int>{50, 55, 60, 65, 70, 75, 80, 85, 90, 95, 100}));
  EXPECT_EQ(reporter_.file_progress, (std::vector<int>{0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100}));
  EXPECT_EQ(reporter_.Events("status").size(), 1u);  // the same text is not sent again
}

// The file is read in large pieces: digests and the last progress step stay
// right where a piece, a read or the file ends.
TEST_F(DigestFileTest, LargeFilesAcrossReadBoundaries) {
  for (size_t size :
       {size_t{1} << 20, (size_t{1} << 20) + 1, (size_t{2} << 20) + 3 * 4096 + 5, size_t{3} << 20}) {
    lyr_test::TestReporter reporter;
    std::string text;
    ASSERT_TRUE(lyr::DigestFile(reporter, Write("big.wav", size), 0, 1, &text)) << size;
    EXPECT_EQ(text, Expected()) << size;
    EXPECT_EQ(reporter.file_progress.back(), 100) << size;
  }
}

TEST_F(DigestFileTest, EmptyFileMissingFileAndCancel) {
  std::string text;
  ASSERT_TRUE(lyr::DigestFile(reporter_, Write("empty.wav", 0), 0, 1, &text));
  EXPECT_EQ(text, "da39a3ee5e6b4b0d3255bfef95601890afd80709");

  text.clear();
  EXPECT_FALSE(lyr::DigestFile(reporter_, (dir_ / "missing.wav").string(), 0, 1, &text));
  EXPECT_FALSE(lyr::DigestFile(reporter_, dir_.path().string(), 0, 1, &text));  // a folder
  EXPECT_TRUE(text.empty());

  const std::string path = Write("big.wav", 100 * 4096);
  lyr_test::TestReporter cancelling;
  cancelling.on_event = [&](const std::string& e) {
    if (e == "file 3") cancelling.cancel = true;
  };
  EXPECT_FALSE(lyr::DigestFile(cancelling, path, 0, 1, &text));
  EXPECT_EQ(cancelling.file_progress.back(), 3);  // nothing reaches the window after cancel
}

}  // namespace
