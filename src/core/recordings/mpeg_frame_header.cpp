#include "recordings/mpeg_frame_header.h"

#include "recordings/mpeg_header.h"

namespace lyr {

int ParseMpegFrameHeader(uint32_t header, MpegFrameHeaderFacts* facts) {
  const MpegHeader h(header);
  if (!h.IsValid()) return 0;
  // The lower sampling frequencies are taken for Layer III only, and MPEG-2.5
  // only up to 64 kbit/s.
  if (h.IsLowerSamplingFrequency() && h.LayerBits() != MpegHeader::kLayer3) return 0;
  if (h.VersionBits() == MpegHeader::kMpeg25 && h.BitRate() > 64000) return 0;

  facts->version_bits = h.VersionBits();
  facts->layer_bits = h.LayerBits();
  facts->sample_rate = h.SampleRate();
  facts->bit_rate = h.BitRate();
  facts->stereo = h.Channels() == 2 ? 1 : 0;
  facts->frame_length = h.FrameLength();
  facts->frame_duration = 1152000000u / h.SampleRate();
  return 1;
}

}  // namespace lyr
