// Converts raw 16-bit stereo PCM at RATE to 44,100 Hz with the audio CD job's
// converter (libsoxr by default, `sinc` for the windowed sinc, in the job's
// batches), like `sox -t raw -r RATE ... rate 44100`.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "burn/sample_rate_converter.h"

namespace {

int Sinc(uint32_t rate, FILE* in) {
  lyr::burn::CSampleRateConverter converter;
  converter.Setup(rate, 44100);
  const uint32_t batch = lyr::burn::ConversionBatchBytes(rate) / 4;
  std::vector<int16_t> pending(2 * 65536), out(2 * 16384);
  size_t fill = 0;  // frames in `pending`
  for (;;) {
    const size_t got = std::fread(pending.data() + 2 * fill, 4, 16384, in);
    fill += got;
    while (fill >= 1152) {
      uint32_t used = 0;
      const uint32_t made =
          converter.Convert(out.data(), pending.data(), static_cast<uint32_t>(fill), batch, &used);
      if (std::fwrite(out.data(), 4, made, stdout) != made) return 1;
      std::copy(pending.begin() + 2 * used, pending.begin() + 2 * fill, pending.begin());
      fill -= used;
      if (made == 0) break;
    }
    if (got == 0) break;
  }
  return 0;
}

int Soxr(uint32_t rate, FILE* in) {
  lyr::burn::SoxrConverter converter;
  if (!converter.Setup(rate, 44100)) return 1;
  std::vector<int16_t> pending(2 * 16384), out;
  for (;;) {
    const size_t got = std::fread(pending.data(), 4, 16384, in);
    out.clear();
    if (got > 0)
      converter.Push(pending.data(), got, out);
    else
      converter.Finish(out);
    if (std::fwrite(out.data(), 4, out.size() / 2, stdout) != out.size() / 2) return 1;
    if (got == 0) break;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    std::fprintf(stderr, "usage: lyr-resample RATE IN.raw [soxr|sinc] > out.raw\n");
    return 2;
  }
  lyr::burn::CdConverter kind = lyr::burn::CdConverter::Soxr;
  if (argc == 4 && !lyr::burn::ParseCdConverter(argv[3], &kind)) {
    std::fprintf(stderr, "lyr-resample: unknown converter %s\n", argv[3]);
    return 2;
  }
  const auto rate = static_cast<uint32_t>(std::strtoul(argv[1], nullptr, 10));
  FILE* in = std::fopen(argv[2], "rb");
  if (in == nullptr || rate == 0) {
    std::perror(argv[2]);
    return 1;
  }
  static char out_buffer[1 << 16];
  std::setvbuf(stdout, out_buffer, _IOFBF, sizeof out_buffer);
  return kind == lyr::burn::CdConverter::Soxr ? Soxr(rate, in) : Sinc(rate, in);
}
