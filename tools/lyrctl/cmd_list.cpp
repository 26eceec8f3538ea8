// lyrctl list: the recordings on the recorder, as the recordings list shows them.
#include <cstdio>
#include <nlohmann/json.hpp>

#include "cli_support.h"
#include "recording_selection.h"
#include "text_output.h"

namespace lyrctl {
namespace {

std::string CodecText(const lyr::RecordingRecord& r) {
  if (r.IsLinearPcm()) return "PCM";
  if (r.IsMpegLayer2()) return "MPEG-1 Layer II";
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%X", r.CodecId());
  return buf;
}

std::string RateText(const lyr::RecordingRecord& r) {
  char buf[32];
  if (r.IsLinearPcm())
    std::snprintf(buf, sizeof buf, "%u bit", r.BitsPerSample());
  else
    std::snprintf(buf, sizeof buf, "%u kbit/s", r.BitRate() / 1000);
  return buf;
}

lyr::Status RunList(const GlobalOptions& options) {
  LYR_TRY_ASSIGN(RecorderSession session, OpenRecorderSession(options));
  lyr::RecordingCatalogue catalogue(*session.link);
  LYR_TRY(LoadWholeCatalogue(catalogue));

  if (options.json) {
    nlohmann::json rows = nlohmann::json::array();
    for (const auto& row : catalogue.Rows()) {
      const lyr::RecordingRecord& r = row.record;
      rows.push_back({{"entry", row.entry},
                      {"name", DeviceJsonText(row.name)},
                      {"duration", row.duration},
                      {"time", row.time},
                      {"date", row.date},
                      {"duration_seconds", lyr::RecordingDurationSeconds(r)},
                      {"codec", CodecText(r)},
                      {"codec_id", r.CodecId()},
                      {"sample_rate", r.SampleRate()},
                      {"bit_rate", r.BitRate()},
                      {"bits_per_sample", r.BitsPerSample()},
                      {"channels", r.Channels()},
                      {"size", r.DataSize()},
                      {"copied", row.copied},
                      {"text", DeviceJsonText(r.FreeText())}});
    }
    PrintJson({{"device", LocalJsonText(session.device_path)}, {"recordings", rows}});
    return {};
  }
  std::printf("%-8s %-12s %-8s %-8s %-8s %-16s %6s %-12s %-6s %11s %s\n", "Entry", "Index", "Duration",
              "Time", "Date", "Codec", "Rate", "Bits/rate", "Ch", "Size", "Copied");
  for (const auto& row : catalogue.Rows()) {
    const lyr::RecordingRecord& r = row.record;
    // Padded by columns, not bytes: "é" is two bytes in UTF-8.
    std::printf("%-8u %s %-8s %-8s %-8s %-16s %6u %-12s %-6s %11u %s\n", row.entry,
                PadShown(DeviceShownText(row.name), 12).c_str(), row.duration.c_str(), row.time.c_str(),
                row.date.c_str(), CodecText(r).c_str(), r.SampleRate(), RateText(r).c_str(),
                r.Channels() < 2 ? "mono" : "stereo", r.DataSize(), row.copied ? "yes" : "no");
  }
  std::printf("%zu recording%s\n", catalogue.RowCount(), catalogue.RowCount() == 1 ? "" : "s");
  return {};
}

}  // namespace

CommandRun AddListCommand(CLI::App& cmd) {
  cmd.footer("Example: lyrctl list --json");
  return RunList;
}

}  // namespace lyrctl
