#include "decoder/audio_decoder.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

#include "decoder/bit_reader.h"
#include "decoder/decoder_tables.h"
#include "decoder/synthesis.h"
#include "recordings/mpeg_header.h"

namespace lyr {

using decoder::AllocationTable;
using decoder::BitReader;
using decoder::DecoderTables;
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

}  // namespace

struct AudioDecoder {
  alignas(64) uint8_t frame[kFrameBufferSize];
  SubbandSamples samples[2];
  SynthesisHistory history[2];
};

namespace {

// Layer I is not taken; Layer III is not decoded yet.
bool IsDecodable(const MpegHeader& header) {
  return header.IsValid() && header.LayerBits() == MpegHeader::kLayer2;
}

// The bit-allocation table the encoder used, by sample rate and bit rate per channel.
const AllocationTable& ChooseAllocationTable(const MpegHeader& header, const DecoderTables& tables) {
  using namespace decoder;
  if (header.IsLowerSamplingFrequency()) return tables.allocation[kTableLowRate];
  const uint32_t per_channel = header.BitRate() / 1000 / header.Channels();
  if (per_channel <= 48) return tables.allocation[header.SampleRate() == 32000 ? kTableD : kTableC];
  if (per_channel <= 80 || header.SampleRate() == 48000) return tables.allocation[kTableA];
  return tables.allocation[kTableB];
}

[[gnu::always_inline]] inline int32_t Requantize(int32_t numerator, const Requantizer& q) {
  return static_cast<int32_t>((int64_t{numerator} * q.mult + q.round) >> q.shift);
}

// A Layer II frame carries, after its header and CRC, the bit allocation of
// every subband, then the scale factors of the allocated subbands, then the
// samples in twelve granules of three per subband. Each stage below reads one
// of these parts; the side information of the first two is what the third
// needs to read and requantize the samples.
struct Layer2SideInfo {
  int channels;
  int sblimit;  // subbands that carry an allocation
  int bound;    // from this subband on, both channels share one allocation and the samples
  int8_t quant_class[2][kSubbands];  // -1: no samples
  // One requantizer per channel, subband and third of the frame: the class
  // and that third's scale factor together.
  const Requantizer* requant[2][kSubbands][3];
};

// Stage 1, bit allocation: the quantization class of each channel and subband.
void ReadBitAllocation(BitReader& bits, const AllocationTable& table, Layer2SideInfo& side) {
  for (int sb = 0; sb < side.sblimit; ++sb) {
    const unsigned nbal = table.nbal[sb];
    if (sb < side.bound) {
      for (int ch = 0; ch < side.channels; ++ch)
        side.quant_class[ch][sb] = table.quant_class[sb][bits.Read(nbal)];
    } else {
      side.quant_class[0][sb] = side.quant_class[1][sb] = table.quant_class[sb][bits.Read(nbal)];
    }
  }
}

// Stage 2, scale factors: first for every allocated subband the selection
// information (which thirds of the frame share a scale factor), then the
// scale factors themselves.
void ReadScaleFactors(BitReader& bits, const DecoderTables& tables, Layer2SideInfo& side) {
  uint32_t selection[2][kSubbands];
  for (int sb = 0; sb < side.sblimit; ++sb) {
    for (int ch = 0; ch < side.channels; ++ch) {
      if (side.quant_class[ch][sb] >= 0) selection[ch][sb] = bits.Read(2);
    }
  }

  for (int sb = 0; sb < side.sblimit; ++sb) {
    for (int ch = 0; ch < side.channels; ++ch) {
      const int c = side.quant_class[ch][sb];
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
      for (int part = 0; part < 3; ++part) side.requant[ch][sb][part] = &tables.requant[c][sf[part]];
    }
  }
}

// One coded sample field of a granule, in bitstream order, with where its samples go.
struct SampleField {
  const int16_t (*group)[3];  // grouped classes: numerators by code word
  unsigned bits;
  int32_t offset;   // levels - 1, for ungrouped codes
  int32_t* out[2];  // the second channel's row above the joint-stereo bound, else null
  const Requantizer* const* requant[2];
};

// Stage 3a: the fields every granule repeats, from the side information.
// Returns how many there are.
int ListSampleFields(const Layer2SideInfo& side, const DecoderTables& tables, SubbandSamples* samples,
                     SampleField* fields) {
  int count = 0;
  for (int sb = 0; sb < side.sblimit; ++sb) {
    const bool shared = sb >= side.bound && side.channels == 2;
    for (int ch = 0; ch < (shared ? 1 : side.channels); ++ch) {
      const int c = side.quant_class[ch][sb];
      if (c < 0) continue;
      const decoder::QuantClass& qc = decoder::kQuantClasses[c];
      SampleField& f = fields[count++];
      f.group = !qc.grouped      ? nullptr
                : qc.levels == 3 ? tables.group3
                : qc.levels == 5 ? tables.group5
                                 : tables.group9;
      f.bits = qc.bits;
      f.offset = static_cast<int32_t>(qc.levels) - 1;
      f.out[0] = samples[ch].value[sb];
      f.out[1] = shared ? samples[1].value[sb] : nullptr;
      f.requant[0] = side.requant[ch][sb];
      f.requant[1] = shared ? side.requant[1][sb] : nullptr;
    }
  }
  return count;
}

// Stage 3b: the samples of the twelve granules, requantized into their
// subband rows: three blocks a granule, four granules to each third of the frame.
void ReadSamples(BitReader& bits, const SampleField* fields, int count) {
  for (int granule = 0; granule < 12; ++granule) {
    const int part = granule >> 2;
    const int t = granule * 3;
    for (int i = 0; i < count; ++i) {
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

// Reads the audio data of the Layer II frame at `frame` and requantizes it
// into 36 blocks of subband samples per channel.
void ReadLayer2(const MpegHeader& h, const uint8_t* frame, const DecoderTables& tables,
                SubbandSamples* samples) {
  const AllocationTable& table = ChooseAllocationTable(h, tables);
  Layer2SideInfo side;
  side.channels = static_cast<int>(h.Channels());
  side.sblimit = table.sblimit;
  side.bound = side.channels == 2 && h.ChannelMode() == MpegHeader::kJointStereo
                   ? std::min(4 * (static_cast<int>(h.ModeExtension()) + 1), side.sblimit)
                   : side.sblimit;
  BitReader bits(frame, h.HasCrc() ? 48 : 32);

  ReadBitAllocation(bits, table, side);
  ReadScaleFactors(bits, tables, side);

  for (int ch = 0; ch < side.channels; ++ch) std::memset(&samples[ch], 0, sizeof(SubbandSamples));
  SampleField fields[2 * kSubbands];
  const int field_count = ListSampleFields(side, tables, samples, fields);
  ReadSamples(bits, fields, field_count);
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
  const MpegHeader header = MpegHeader::FromBytes(input);
  if (!IsDecodable(header)) return 0;
  const size_t frame_length = header.FrameLength();
  if (frame_length > input_length) return 0;

  std::memcpy(d->frame, input, frame_length);
  std::memset(d->frame + frame_length, 0, sizeof d->frame - frame_length);

  ReadLayer2(header, d->frame, decoder::GetDecoderTables(), d->samples);

  SynthesizeFrame(d->samples, static_cast<int>(header.Channels()), d->history, static_cast<int16_t*>(output));
  if (bytes_produced != nullptr) *bytes_produced = kAudioDecoderFrameOutputBytes;
  return frame_length;
}

void AudioDecoderDestroy(AudioDecoder* decoder) { delete decoder; }

}  // namespace lyr
