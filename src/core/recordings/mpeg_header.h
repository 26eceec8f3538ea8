#pragma once
#include <cstdint>

namespace lyr {

// The four bytes that start an MPEG audio frame (ISO/IEC 11172-3, 13818-3 and
// the MPEG-2.5 extension of the lower sampling frequencies), and what they
// say. The one place the product reads frame headers: the decoder, its frame
// search, the recording reader and the export facts all ask this type.
class MpegHeader {
 public:
  // Version bits.
  static constexpr uint32_t kMpeg25 = 0;
  static constexpr uint32_t kMpeg2 = 2;
  static constexpr uint32_t kMpeg1 = 3;
  // Layer bits.
  static constexpr uint32_t kLayer1 = 3;
  static constexpr uint32_t kLayer2 = 2;
  static constexpr uint32_t kLayer3 = 1;
  // Channel modes.
  static constexpr uint32_t kStereo = 0;
  static constexpr uint32_t kJointStereo = 1;
  static constexpr uint32_t kDualChannel = 2;
  static constexpr uint32_t kSingleChannel = 3;

  constexpr MpegHeader() = default;
  // `word` is the four header bytes, the first stream byte most significant.
  constexpr explicit MpegHeader(uint32_t word) : word_(word) {}
  // The header in the four bytes at `bytes`.
  static MpegHeader FromBytes(const uint8_t* bytes) {
    return MpegHeader((uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) |
                      bytes[3]);
  }
  // The header of an unpadded frame without CRC at these rates (Hz, bit/s);
  // a header that is not valid when a rate has no index for the version and layer.
  static MpegHeader FromRates(uint32_t version_bits, uint32_t layer_bits, uint32_t sample_rate,
                              uint32_t bit_rate, uint32_t channel_mode);

  uint32_t Word() const { return word_; }

  // The fields as they stand.
  bool HasSync() const { return (word_ >> 21) == 0x7FF; }
  uint32_t VersionBits() const { return (word_ >> 19) & 3; }  // 1 is reserved
  uint32_t LayerBits() const { return (word_ >> 17) & 3; }    // 0 is reserved
  bool HasCrc() const { return ((word_ >> 16) & 1) == 0; }
  uint32_t BitRateIndex() const { return (word_ >> 12) & 15; }    // 0 free format, 15 reserved
  uint32_t SampleRateIndex() const { return (word_ >> 10) & 3; }  // 3 reserved
  uint32_t Padding() const { return (word_ >> 9) & 1; }
  uint32_t ChannelMode() const { return (word_ >> 6) & 3; }
  uint32_t ModeExtension() const { return (word_ >> 4) & 3; }

  // MPEG-2 or MPEG-2.5: half or quarter the MPEG-1 sample rates, their own bit-rate tables.
  bool IsLowerSamplingFrequency() const { return VersionBits() != kMpeg1; }
  uint32_t Channels() const { return ChannelMode() == kSingleChannel ? 1 : 2; }

  // Sync, a version and layer that exist, a sample rate and a bit rate from
  // the tables: free format (bit-rate index 0) is not taken.
  bool IsValid() const { return HasSync() && SampleRate() != 0 && BitRate() != 0; }
  // Hz; 0 for a reserved version or sample-rate index.
  uint32_t SampleRate() const;
  // bit/s; 0 for a reserved version or layer, free format and index 15.
  uint32_t BitRate() const;
  // 384 for Layer I, 1152 for Layer II, 1152 for Layer III (576 at the lower
  // sampling frequencies); 0 for the reserved layer.
  uint32_t SamplesPerFrame() const;
  // Bytes, header and padding included; 0 for a header that is not valid.
  uint32_t FrameLength() const;

 private:
  uint32_t word_ = 0;
};

}  // namespace lyr
