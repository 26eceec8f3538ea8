// The writers' outputs, captured (tests/core/burn/data), read into drive lists,
// capabilities, disc facts, progress and error lines.
#include "burn/tool_output.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace lyr::burn {
namespace {

std::string Capture(const std::string& name) {
  std::ifstream in(std::string(LYR_TEST_SOURCE_DIR) + "/tests/core/burn/data/" + name, std::ios::binary);
  EXPECT_TRUE(in) << name;
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(ToolOutput, WriterKindFromItsVersionLine) {
  // wodim's first line claims a cdrecord 2.01 "for frontends"; cdrskin's
  // second line an emulated one.
  EXPECT_EQ(WriterKindFromVersion(Capture("wodim-version.txt")), WriterKind::kWodim);
  EXPECT_EQ(WriterKindFromVersion(Capture("cdrskin-version.txt")), WriterKind::kCdrskin);
  EXPECT_EQ(WriterKindFromVersion("Cdrecord-ProDVD-ProBD-Clone 3.02a09 (x86_64-pc-linux-gnu)\n"),
            WriterKind::kCdrecord);
  EXPECT_EQ(WriterKindFromVersion("Cdrecord 3.01 (x86_64-unknown-linux-gnu)\n"), WriterKind::kCdrecord);
  EXPECT_EQ(WriterKindFromVersion("Cdrecord-Clone 2.01 (i686-pc-linux-gnu)\n"), WriterKind::kWodim);
  EXPECT_EQ(WriterKindFromVersion("sh: 1: cdrecord: not found\n"), WriterKind::kNone);
}

TEST(ToolOutput, ScanListsEveryRemovableDriveInOrder) {
  const auto drives = ParseScanOutput(Capture("cdrecord-scanbus-two.txt"));
  ASSERT_EQ(drives.size(), 2u);
  EXPECT_STREQ(drives[0].name, "HL-DT-STDVDRAM GH22NS50 ");
  EXPECT_EQ(drives[0].device, 0u);
  EXPECT_STREQ(drives[1].name, "TSSTcorpCDDVDW SH-S223C ");
  EXPECT_EQ(drives[1].device, 0x10000u);
  EXPECT_EQ(drives[0].write_capabilities, 0u);

  for (const char* none :
       {"cdrecord-scanbus-none.txt", "cdrskin-scanbus-none.txt", "wodim-scanbus-no-driver.txt"})
    EXPECT_TRUE(ParseScanOutput(Capture(none)).empty()) << none;
}

TEST(ToolOutput, DeviceAddressesRoundTrip) {
  EXPECT_EQ(ParseDeviceAddress("0,1,0"), 256u);
  EXPECT_EQ(FormatDeviceAddress(256), "0,1,0");
  EXPECT_EQ(ParseDeviceAddress("1,0,2"), 65538u);
  EXPECT_EQ(ParseDeviceAddress("1,0"), 0xFFFFFFFFu);
  EXPECT_EQ(ParseDeviceAddress(""), 0xFFFFFFFFu);
}

TEST(ToolOutput, CapabilitiesByWriterKind) {
  struct Case {
    WriterKind kind;
    const char* capture;
    uint32_t read, write;
  } cases[] = {
      // Page 2A and the profile list together.
      {WriterKind::kCdrecord, "cdrecord-prcap-writer.txt", 0x17F7, 0x17E6},
      {WriterKind::kCdrecord, "cdrecord-prcap-dvdram-only.txt", MEDIA_DVDROM | MEDIA_DVDRAM, MEDIA_DVDRAM},
      // A reader: capabilities 0, so no writer. ("Profile: DVD-R" is also
      // the start of "Profile: DVD-ROM", as the read test has it.)
      {WriterKind::kCdrecord, "cdrecord-prcap-reader.txt", 0x0037, 0},
      // wodim prints no profile lines: page 2A alone.
      {WriterKind::kWodim, "wodim-prcap.txt",
       MEDIA_CDR | MEDIA_CDRW | MEDIA_DVDROM | MEDIA_DVDR | MEDIA_DVDRAM,
       MEDIA_CDR | MEDIA_CDRW | MEDIA_DVDR | MEDIA_DVDRAM},
      // cdrskin says nothing to -prcap; its profile list says it all.
      {WriterKind::kCdrskin, "cdrskin-prcap-ignored.txt", 0, 0},
      {WriterKind::kCdrskin, "cdrskin-minfo-dvdplusrw.txt", 0x17F7, 0x17E6},
      {WriterKind::kCdrskin, "cdrskin-minfo-reader.txt", MEDIA_CDROM | MEDIA_DVDROM, 0},
  };
  for (const auto& c : cases) {
    uint32_t read = 1, write = 1;
    ParseCapabilities(c.kind, Capture(c.capture), &read, &write);
    EXPECT_EQ(read, c.read) << c.capture;
    EXPECT_EQ(write, c.write) << c.capture;
  }
}

TEST(ToolOutput, DiscFactsByWriterKind) {
  struct Case {
    WriterKind kind;
    const char* query;
    const char* toc;
    int result;
    uint32_t disc;
    uint64_t free_bytes;
  } cases[] = {
      {WriterKind::kCdrecord, "cdrecord-minfo-cdr-blank.txt", nullptr, 0, MEDIA_CDR, 359849ull * 2048},
      {WriterKind::kCdrecord, "cdrecord-minfo-cdrw-written.txt", nullptr, 0, MEDIA_CDRW, 0},
      // "No disk / Wrong disk" wins over whatever follows it.
      {WriterKind::kCdrecord, "cdrecord-minfo-no-disk.txt", nullptr, 0, 0, 0},
      // An erasable DVD+RW is always its whole size.
      {WriterKind::kCdrecord, "cdrecord-minfo-dvdplusrw.txt", nullptr, 0, MEDIA_DVDPLUSRW, 4700372992ull},
      {WriterKind::kCdrecord, "wodim-scanbus-no-driver.txt", nullptr, 1, 0, 0},
      // wodim: -atip names the disc, -toc fails on a blank one.
      {WriterKind::kWodim, "wodim-atip-cdr.txt", "wodim-toc-blank.txt", 0, MEDIA_CDR, 359848ull * 2048},
      {WriterKind::kWodim, "wodim-atip-cdr.txt", "wodim-toc-written.txt", 0, MEDIA_CDROM, 0},
      {WriterKind::kWodim, "wodim-atip-cdrw.txt", "wodim-toc-written.txt", 0, MEDIA_CDRW, 0},
      {WriterKind::kWodim, "wodim-atip-no-disk.txt", nullptr, 0, 0, 0},
      // Read as cdrecord's -minfo, wodim's refusal would look like no disc.
      {WriterKind::kCdrecord, "wodim-minfo-refused.txt", nullptr, 0, 0, 0},
      // cdrskin names the mounted profile.
      {WriterKind::kCdrskin, "cdrskin-minfo-dvdplusrw.txt", nullptr, 0, MEDIA_DVDPLUSRW, 4700372992ull},
      {WriterKind::kCdrskin, "cdrskin-minfo-reader.txt", nullptr, 0, MEDIA_DVDROM, 0},
      {WriterKind::kCdrskin, "cdrskin-minfo-no-drive.txt", nullptr, 1, 0, 0},
  };
  for (const auto& c : cases) {
    uint32_t disc = 99;
    uint64_t free_bytes = 99;
    const std::string toc = c.toc != nullptr ? Capture(c.toc) : std::string();
    EXPECT_EQ(ParseDiscInfo(c.kind, Capture(c.query), toc, &disc, &free_bytes), c.result) << c.query;
    EXPECT_EQ(disc, c.disc) << c.query;
    EXPECT_EQ(free_bytes, c.free_bytes) << c.query;
  }
  EXPECT_TRUE(DiscQueryNeedsToc(WriterKind::kWodim, Capture("wodim-atip-cdr.txt")));
  EXPECT_FALSE(DiscQueryNeedsToc(WriterKind::kWodim, Capture("wodim-atip-no-disk.txt")));
  EXPECT_FALSE(DiscQueryNeedsToc(WriterKind::kCdrecord, Capture("cdrecord-minfo-cdr-blank.txt")));
}

TEST(ToolOutput, ErrorLinesOfEachWriter) {
  EXPECT_EQ(WriterErrorLines(WriterKind::kCdrecord, Capture("cdrecord-data-errors.txt"), {"cdrecord"}, true),
            " Input/output error. write_g1: scsi sendcmd: no error\r\n A write error occured.\r\n"
            " Please properly read the error message above.\r\n");
  // Warnings are no errors; wodim spells them "Warning".
  EXPECT_EQ(
      WriterErrorLines(WriterKind::kCdrecord, Capture("cdrecord-audio-4-tracks.txt"), {"cdrecord"}, true),
      "");
  EXPECT_EQ(WriterErrorLines(WriterKind::kWodim, Capture("wodim-prcap.txt"), {"wodim", "cdrecord"}, true),
            "");
  // wodim run through its cdrecord link: either name counts.
  EXPECT_EQ(
      WriterErrorLines(WriterKind::kWodim, "cdrecord: Cannot open new session.\nwodim: A write error.\n",
                       {"wodim", "cdrecord"}, true),
      " Cannot open new session.\r\n A write error.\r\n");
  // cdrskin prefixes its notes too: only its failures count.
  EXPECT_EQ(WriterErrorLines(WriterKind::kCdrskin, Capture("cdrskin-burn-failed.txt"), {"cdrskin"}, true),
            " FATAL : No suitable media detected\r\n FATAL : burning failed.\r\n");
}

TEST(ToolOutput, ProgressOfFourAudioTracksAndOfTheImage) {
  const std::string all = Capture("cdrecord-audio-4-tracks.txt");
  std::vector<int> seen;
  size_t from = 0;
  for (size_t at; (at = all.find("Total bytes", from)) != std::string::npos; from = at + 1) {
    const size_t end = all.find('\n', at) + 1;
    seen.push_back(ParseAudioProgress(all.substr(from, end - from), 4));
    from = end - 1;
  }
  EXPECT_EQ(seen, (std::vector<int>{25, 50, 75, 100}));
  EXPECT_EQ(ParseAudioProgress("Starting new track at sector: 0\n", 4), -1);

  EXPECT_EQ(ParseImageProgress(Capture("genisoimage-progress.txt")), 45);
  EXPECT_EQ(ParseImageProgress("xorriso : UPDATE :  45.67% done, estimate finish Thu Dec 10 2026\n"), 45);
  EXPECT_EQ(ParseImageProgress("Total translation table size: 0\n"), -1);
}

TEST(ToolOutput, ImageSizeIsTheLastNumberLine) {
  EXPECT_EQ(ParseImageSize("Total translation table size: 0\n183\n"), 183u);
  // xorrisofs prints its banner to the same pipe after the number.
  EXPECT_EQ(ParseImageSize("184\nxorriso 1.5.4 : RockRidge filesystem manipulator, libburnia project.\n\n"),
            184u);
  EXPECT_EQ(ParseImageSize("genisoimage: No such file or directory. Invalid node - '/x'.\n"), 0u);
  EXPECT_TRUE(BlankAsksForFull("wodim: Try again with wodim blank=all.\n"));
  EXPECT_FALSE(BlankAsksForFull("Blanking time:   12.345s\n"));
}

}  // namespace
}  // namespace lyr::burn
