// What the disc writers and the image maker print is outside data: any bytes
// must parse, for every writer kind, within bounds, and give facts that are
// media-kind bits and percentages.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "burn/tool_output.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace lyr::burn;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  // The first half as a disc query, the rest as wodim's -toc.
  const std::string_view query = text.substr(0, size / 2), toc = text.substr(size / 2);

  (void)WriterKindFromVersion(text);
  for (const BURN_DRIVE_INFO& d : ParseScanOutput(text)) {
    if (d.name[sizeof d.name - 1] != '\0') std::abort();
    (void)ParseDeviceAddress(FormatDeviceAddress(d.device));
  }
  for (WriterKind kind : {WriterKind::kCdrecord, WriterKind::kCdrskin, WriterKind::kWodim}) {
    uint32_t read = 0, write = 0;
    ParseCapabilities(kind, text, &read, &write);
    if ((read | write) & ~0x17F7u) std::abort();
    uint32_t disc = 0;
    uint64_t free_bytes = 0;
    if (ParseDiscInfo(kind, query, toc, &disc, &free_bytes) == 0 && (disc & ~0x17F7u) != 0) std::abort();
    (void)DiscQueryNeedsToc(kind, query);
    const std::string errors = WriterErrorLines(kind, text, {"cdrecord", "wodim", "cdrskin"}, true);
    if (errors.size() > size * 3 + 2) std::abort();
  }
  (void)BlankAsksForFull(text);
  (void)ParseImageSize(text);
  const int image = ParseImageProgress(text);
  if (image < -1 || image > 100) std::abort();
  for (int tracks : {1, 4, 99}) {
    const int audio = ParseAudioProgress(text, tracks);
    if (audio < -1 || audio > 100) std::abort();
  }
  return 0;
}
