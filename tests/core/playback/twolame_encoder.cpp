#include "core/playback/twolame_encoder.h"

#include <twolame.h>

#include <algorithm>

namespace lyr::test {

std::vector<uint8_t> EncodeLayer2(const std::vector<int16_t>& pcm, const EncoderSettings& s) {
  const int channels = s.mode == StreamMode::kSingleChannel ? 1 : 2;
  twolame_options* options = twolame_init();
  if (options == nullptr) return {};
  const TWOLAME_MPEG_mode modes[] = {TWOLAME_STEREO, TWOLAME_JOINT_STEREO, TWOLAME_DUAL_CHANNEL, TWOLAME_MONO};
  twolame_set_num_channels(options, channels);
  twolame_set_in_samplerate(options, s.sample_rate);
  twolame_set_out_samplerate(options, s.sample_rate);
  twolame_set_version(options, s.sample_rate < 32000 ? TWOLAME_MPEG2 : TWOLAME_MPEG1);
  twolame_set_mode(options, modes[static_cast<int>(s.mode)]);
  twolame_set_bitrate(options, s.kbits);
  twolame_set_error_protection(options, s.crc ? 1 : 0);
  twolame_set_padding(options, s.padding ? TWOLAME_PAD_ALL : TWOLAME_PAD_NO);
  twolame_set_verbosity(options, 0);
  std::vector<uint8_t> out;
  if (twolame_init_params(options) == 0) {
    const int frames = static_cast<int>(pcm.size()) / channels;
    std::vector<uint8_t> chunk(16384);
    constexpr int kStep = 1152 * 4;
    std::vector<int16_t> left(kStep), right(kStep);
    for (int start = 0; start < frames; start += kStep) {
      const int n = std::min(kStep, frames - start);
      for (int i = 0; i < n; ++i) {
        left[i] = pcm[static_cast<size_t>((start + i) * channels)];
        right[i] = pcm[static_cast<size_t>((start + i) * channels + channels - 1)];
      }
      const int got = twolame_encode_buffer(options, left.data(), right.data(), n, chunk.data(),
                                            static_cast<int>(chunk.size()));
      if (got < 0) {
        out.clear();
        break;
      }
      out.insert(out.end(), chunk.begin(), chunk.begin() + got);
    }
    const int got = twolame_encode_flush(options, chunk.data(), static_cast<int>(chunk.size()));
    if (got > 0) out.insert(out.end(), chunk.begin(), chunk.begin() + got);
  }
  twolame_close(&options);
  return out;
}

const char* ModeName(StreamMode mode) {
  switch (mode) {
    case StreamMode::kStereo:
      return "stereo";
    case StreamMode::kJointStereo:
      return "joint";
    case StreamMode::kDualChannel:
      return "dual";
    case StreamMode::kSingleChannel:
      return "mono";
  }
  return "?";
}

}  // namespace lyr::test
