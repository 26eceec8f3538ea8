#include "playback/decoder/audio_decoder.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

#include "playback/decoder/bit_reader.h"
#include "playback/decoder/decoder_tables.h"
#include "playback/decoder/synthesis.h"

namespace lyr {

using decoder::AllocationTable;
using decoder::BitReader;
using decoder::DecoderTables;
using decoder::kBlocksPerFrame;
using decoder::kSubbands;
using decoder::Requantizer;
using decoder::SubbandSamples;
using decoder::SynthesisHistory;

// Output samples are written in host order and promised little-endian.
static_assert(std::endian::native == std::endian::little);

namespace {

// The longest Layer II frame: 160 kbit/s at 8 kHz, padded.
constexpr size_t kMaxFrameLength = 144 * 160000 / 8000 + 1;
// The most a Layer II frame can ask to read (header, CRC, allocation,
// selection information, scale factors, 16-bit samples everywhere), plus the
// reader's eight bytes of look-ahead. A corrupt frame that asks for more bits
// than it has reads zeros.
constexpr size_t kMaxFrameBits = 32 + 16 + 2 * 32 * 4 + 2 * 32 * 2 + 2 * 32 * 3 * 6 + 12 * 2 * 32 * 3 * 16;
constexpr size_t kFrameBufferSize = std::max(kMaxFrameLength, (kMaxFrameBits + 7) / 8) + 8;

constexpr int kModeJointStereo = 1;
constexpr int kModeSingleChannel = 3;

constexpr uint16_t kMpeg1Layer2Rates[16] = {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0};
constexpr uint16_t kLowRateLayer2Rates[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0};
constexpr uint32_t kMpeg1SampleRates[3] = {44100, 48000, 32000};

}  // namespace

struct AudioDecoder {
  // The last parsed header.
  int layer = 0;
  int protection = 0;  // 1 when the frame carries no CRC
  int bit_rate_index = 0;
  uint32_t bit_rate = 0;
  int sample_rate_index = 0;
  uint32_t sample_rate = 0;
  int padding = 0;
  int mode = 0;
  int mode_extension = 0;
  int channels = 0;
  bool lower_sampling_frequency = false;
  size_t frame_length = 0;

  uint64_t frames_decoded = 0;

  alignas(64) uint8_t frame[kFrameBufferSize];
  SubbandSamples samples[2];
  SynthesisHistory history[2];
};

namespace {

// Parses the header; false for anything this decoder does not take.
bool ParseHeader(AudioDecoder& d, uint32_t h) {
  if ((h >> 21) != 0x7FF) return false;
  const bool bit20 = ((h >> 20) & 1) != 0, bit19 = ((h >> 19) & 1) != 0;
  if (!bit20 && bit19) return false;  // reserved version
  const int layer_bits = static_cast<int>((h >> 17) & 3);
  if (layer_bits == 0) return false;  // reserved layer
  d.layer = 4 - layer_bits;
  d.protection = static_cast<int>((h >> 16) & 1);
  d.bit_rate_index = static_cast<int>((h >> 12) & 15);
  d.sample_rate_index = static_cast<int>((h >> 10) & 3);
  d.padding = static_cast<int>((h >> 9) & 1);
  d.mode = static_cast<int>((h >> 6) & 3);
  d.mode_extension = static_cast<int>((h >> 4) & 3);
  d.channels = d.mode == kModeSingleChannel ? 1 : 2;
  d.lower_sampling_frequency = !(bit20 && bit19);

  if (d.sample_rate_index == 3) return false;
  d.sample_rate = kMpeg1SampleRates[d.sample_rate_index] >> (bit20 ? (bit19 ? 0 : 1) : 2);
  if (d.bit_rate_index == 0 || d.bit_rate_index == 15) return false;
  // Layer I is not taken; Layer III is not decoded yet.
  if (d.layer != 2) return false;
  d.bit_rate = 1000u * (d.lower_sampling_frequency ? kLowRateLayer2Rates : kMpeg1Layer2Rates)[d.bit_rate_index];
  d.frame_length = 144 * d.bit_rate / d.sample_rate + static_cast<size_t>(d.padding);
  return true;
}

const AllocationTable& ChooseAllocationTable(const AudioDecoder& d, const DecoderTables& tables) {
  using namespace decoder;
  if (d.lower_sampling_frequency) return tables.allocation[kTableLowRate];
  const uint32_t per_channel = d.bit_rate / 1000 / static_cast<uint32_t>(d.channels);
  if (per_channel <= 48) return tables.allocation[d.sample_rate == 32000 ? kTableD : kTableC];
  if (per_channel <= 80 || d.sample_rate == 48000) return tables.allocation[kTableA];
  return tables.allocation[kTableB];
}

[[gnu::always_inline]] inline int32_t Requantize(int32_t numerator, const Requantizer& q) {
  return static_cast<int32_t>((int64_t{numerator} * q.mult + q.round) >> q.shift);
}

// Reads the audio data of a Layer II frame and requantizes it into 36 blocks
// of subband samples per channel.
void ReadLayer2(AudioDecoder& d, const DecoderTables& tables) {
  const AllocationTable& table = ChooseAllocationTable(d, tables);
  const int channels = d.channels;
  const int sblimit = table.sblimit;
  const int bound = channels == 2 && d.mode == kModeJointStereo ? std::min(4 * (d.mode_extension + 1), sblimit)
                                                                  : sblimit;
  BitReader bits(d.frame, d.protection ? 32 : 48);

  int8_t quant_class[2][kSubbands];  // -1: no samples
  for (int sb = 0; sb < sblimit; ++sb) {
    const unsigned nbal = table.nbal[sb];
    if (sb < bound) {
      for (int ch = 0; ch < channels; ++ch) quant_class[ch][sb] = table.quant_class[sb][bits.Read(nbal)];
    } else {
      quant_class[0][sb] = quant_class[1][sb] = table.quant_class[sb][bits.Read(nbal)];
    }
  }

  uint32_t selection[2][kSubbands];
  for (int sb = 0; sb < sblimit; ++sb) {
    for (int ch = 0; ch < channels; ++ch) {
      if (quant_class[ch][sb] >= 0) selection[ch][sb] = bits.Read(2);
    }
  }

  // One requantizer per channel, subband and third of the frame.
  const Requantizer* requant[2][kSubbands][3];
  for (int sb = 0; sb < sblimit; ++sb) {
    for (int ch = 0; ch < channels; ++ch) {
      const int c = quant_class[ch][sb];
      if (c < 0) continue;
      uint32_t sf[3];
      switch (selection[ch][sb]) {
        case 0:
          sf[0] = bits.Read(6), sf[1] = bits.Read(6), sf[2] = bits.Read(6);
          break;
        case 1:
          sf[0] = sf[1] = bits.Read(6), sf[2] = bits.Read(6);
          break;
        case 2:
          sf[0] = sf[1] = sf[2] = bits.Read(6);
          break;
        default:
          sf[0] = bits.Read(6), sf[1] = sf[2] = bits.Read(6);
          break;
      }
      for (int part = 0; part < 3; ++part) requant[ch][sb][part] = &tables.requant[c][sf[part]];
    }
  }

  for (int ch = 0; ch < channels; ++ch) std::memset(&d.samples[ch], 0, sizeof(SubbandSamples));

  // The coded sample fields in bitstream order, each with where its samples go.
  struct SampleField {
    const int16_t (*group)[3];  // grouped classes: numerators by code word
    unsigned bits;
    int32_t offset;  // levels - 1, for ungrouped codes
    int32_t* out[2];  // the second channel's row above the joint-stereo bound, else null
    const Requantizer* const* requant[2];
  };
  SampleField fields[2 * kSubbands];
  int field_count = 0;
  for (int sb = 0; sb < sblimit; ++sb) {
    const bool shared = sb >= bound && channels == 2;
    for (int ch = 0; ch < (shared ? 1 : channels); ++ch) {
      const int c = quant_class[ch][sb];
      if (c < 0) continue;
      const decoder::QuantClass& qc = decoder::kQuantClasses[c];
      SampleField& f = fields[field_count++];
      f.group = !qc.grouped ? nullptr : qc.levels == 3 ? tables.group3 : qc.levels == 5 ? tables.group5 : tables.group9;
      f.bits = qc.bits;
      f.offset = static_cast<int32_t>(qc.levels) - 1;
      f.out[0] = d.samples[ch].value[sb];
      f.out[1] = shared ? d.samples[1].value[sb] : nullptr;
      f.requant[0] = requant[ch][sb];
      f.requant[1] = shared ? requant[1][sb] : nullptr;
    }
  }

  for (int granule = 0; granule < 12; ++granule) {
    const int part = granule >> 2;
    const int t = granule * 3;
    for (int i = 0; i < field_count; ++i) {
      const SampleField& f = fields[i];
      int32_t numerator[3];
      if (f.group != nullptr) {
        const int16_t* group = f.group[bits.Read(f.bits)];
        numerator[0] = group[0], numerator[1] = group[1], numerator[2] = group[2];
      } else {
        for (int32_t& n : numerator) n = 2 * static_cast<int32_t>(bits.Read(f.bits)) - f.offset;
      }
      const Requantizer& q = *f.requant[0][part];
      for (int s = 0; s < 3; ++s) f.out[0][t + s] = Requantize(numerator[s], q);
      if (f.out[1] != nullptr) {
        // Above the joint-stereo bound both channels share the samples, each
        // with its own scale factors.
        const Requantizer& qr = *f.requant[1][part];
        for (int s = 0; s < 3; ++s) f.out[1][t + s] = Requantize(numerator[s], qr);
      }
    }
  }
}

}  // namespace

AudioDecoder* AudioDecoderCreate() {
  decoder::GetDecoderTables();
  auto* d = new (std::nothrow) AudioDecoder;
  if (d != nullptr) {
    std::memset(d->history, 0, sizeof d->history);
    std::memset(d->frame, 0, sizeof d->frame);
  }
  return d;
}

size_t AudioDecoderDecode(AudioDecoder* d, const uint8_t* input, size_t input_length, void* output,
                          size_t* bytes_produced) {
  if (bytes_produced != nullptr) *bytes_produced = 0;
  if (d == nullptr || input == nullptr || output == nullptr || input_length < 4) return 0;
  const uint32_t header = (uint32_t{input[0]} << 24) | (uint32_t{input[1]} << 16) | (uint32_t{input[2]} << 8) | input[3];
  if (!ParseHeader(*d, header)) return 0;
  if (d->frame_length > input_length) return 0;

  std::memcpy(d->frame, input, d->frame_length);
  std::memset(d->frame + d->frame_length, 0, sizeof d->frame - d->frame_length);

  const DecoderTables& tables = decoder::GetDecoderTables();
  ReadLayer2(*d, tables);

  SynthesizeFrame(d->samples, d->channels, d->history, static_cast<int16_t*>(output));
  ++d->frames_decoded;
  if (bytes_produced != nullptr) *bytes_produced = kAudioDecoderFrameOutputBytes;
  return d->frame_length;
}

void AudioDecoderDestroy(AudioDecoder* decoder) { delete decoder; }

}  // namespace lyr
