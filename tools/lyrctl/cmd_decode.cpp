// lyrctl decode: an MPEG-1/2 Layer II file to a 16-bit stereo WAVE file,
// decoded frame by frame with the player's decoder.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "commands.h"
#include "platform/byte_order.h"
#include "playback/decoder/layer2_stream.h"

namespace lyrctl {
namespace {

using File = std::unique_ptr<FILE, int (*)(FILE*)>;

constexpr size_t kWaveHeaderSize = 44;
constexpr uint64_t kMaxWaveData = std::numeric_limits<uint32_t>::max() - (kWaveHeaderSize - 8);

// Canonical 44-byte header of 16-bit stereo PCM.
void BuildStereoWaveHeader(uint8_t* h, uint32_t sample_rate, uint32_t data_bytes) {
  std::memcpy(h, "RIFF", 4);
  lyr::PutU32(h + 4, data_bytes + static_cast<uint32_t>(kWaveHeaderSize - 8));
  std::memcpy(h + 8, "WAVEfmt ", 8);
  lyr::PutU32(h + 16, 16);
  lyr::PutU16(h + 20, 1);
  lyr::PutU16(h + 22, 2);
  lyr::PutU32(h + 24, sample_rate);
  lyr::PutU32(h + 28, sample_rate * 4);
  lyr::PutU16(h + 32, 4);
  lyr::PutU16(h + 34, 16);
  std::memcpy(h + 36, "data", 4);
  lyr::PutU32(h + 40, data_bytes);
}

std::string Reason() { return std::strerror(errno); }

void RunDecode(const GlobalOptions& options, const std::string& in_path, const std::string& out_path) {
  File in(std::fopen(in_path.c_str(), "rb"), std::fclose);
  if (!in) throw CommandFailure{"cannot open " + in_path + ": " + Reason()};
  File out(std::fopen(out_path.c_str(), "wb"), std::fclose);
  if (!out) throw CommandFailure{"cannot create " + out_path + ": " + Reason()};

  uint8_t header[kWaveHeaderSize] = {};
  bool write_failed = false, too_long = false;
  uint64_t data_bytes = 0;
  if (std::fwrite(header, 1, sizeof header, out.get()) != sizeof header) write_failed = true;

  const lyr::Layer2StreamResult result = lyr::DecodeLayer2Stream(
      [&](uint8_t* buffer, size_t capacity) { return std::fread(buffer, 1, capacity, in.get()); },
      [&](const int16_t* samples, size_t bytes) {
        if (write_failed || too_long) return;
        if (data_bytes + bytes > kMaxWaveData) {
          too_long = true;
          return;
        }
        // The decoder's samples are in host order; WAVE wants little-endian.
        uint8_t le[4608];
        for (size_t i = 0; i < bytes / 2; ++i) lyr::PutU16(le + 2 * i, static_cast<uint16_t>(samples[i]));
        if (std::fwrite(le, 1, bytes, out.get()) != bytes) write_failed = true;
        data_bytes += bytes;
      });
  if (!result.ok) throw CommandFailure{"cannot create a decoder: not enough memory"};
  if (std::ferror(in.get())) throw CommandFailure{"cannot read " + in_path + ": " + Reason()};
  if (too_long) throw CommandFailure{in_path + " decodes to more than a WAVE file can hold"};
  if (result.frames == 0) throw CommandFailure{in_path + ": no MPEG Layer II frames found"};

  BuildStereoWaveHeader(header, result.sample_rate, static_cast<uint32_t>(data_bytes));
  if (write_failed || std::fseek(out.get(), 0, SEEK_SET) != 0 ||
      std::fwrite(header, 1, sizeof header, out.get()) != sizeof header || std::fflush(out.get()) != 0) {
    throw CommandFailure{"cannot write " + out_path + ": " + Reason()};
  }

  const double seconds = static_cast<double>(data_bytes / 4) / result.sample_rate;
  if (options.json) {
    nlohmann::json j = {{"input", in_path},       {"output", out_path},
                        {"frames", result.frames}, {"skipped_bytes", result.skipped_bytes},
                        {"sample_rate", result.sample_rate}, {"channels", result.channels},
                        {"data_bytes", data_bytes}, {"seconds", seconds}};
    std::printf("%s\n", j.dump(2).c_str());
  } else {
    std::printf("%s: %llu frames, %u Hz, %s, %.3f s", out_path.c_str(),
                static_cast<unsigned long long>(result.frames), result.sample_rate,
                result.channels == 1 ? "single channel" : "two channels", seconds);
    if (result.skipped_bytes != 0)
      std::printf(", %llu bytes skipped", static_cast<unsigned long long>(result.skipped_bytes));
    std::printf("\n");
  }
}

LYRCTL_COMMAND([](CLI::App& app, GlobalOptions& options) {
  CLI::App* cmd = app.add_subcommand("decode", "Decode an MPEG Layer II file to a 16-bit stereo WAVE file");
  auto in_path = std::make_shared<std::string>();
  auto out_path = std::make_shared<std::string>();
  cmd->add_option("IN", *in_path, "MPEG Layer II file (.mp2)")->required();
  cmd->add_option("OUT", *out_path, "WAVE file to write")->required();
  cmd->callback([&options, in_path, out_path] { RunDecode(options, *in_path, *out_path); });
});

}  // namespace
}  // namespace lyrctl
