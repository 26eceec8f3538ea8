#include "recordings/export_headers.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/byte_order.h"
#include "platform/last_error.h"

namespace lyr {
namespace {

// BWF "bext" chunk fields.
constexpr size_t kBextDescription = 20;
constexpr size_t kBextDescriptionSize = 256;
constexpr size_t kBextOriginator = 276;
constexpr size_t kBextOriginatorReference = 308;
constexpr size_t kBextOriginatorSize = 32;
constexpr size_t kBextDate = 340;
constexpr size_t kBextDateSize = 10;
constexpr size_t kBextTime = 350;
constexpr size_t kBextTimeSize = 8;
constexpr size_t kBextFreeText = 368;
constexpr size_t kBextCodingHistory = 622;
constexpr size_t kBextCodingHistorySize = 70;
constexpr size_t kBwfFormatChunk = 692;
constexpr uint32_t kBextChunkSize = 672;

// The chunks after "bext" (or after "WAVE" in the plain header).
constexpr size_t kPcmFormatChunkSize = 24;    // "fmt " chunk
constexpr size_t kMpegFormatChunksSize = 80;  // "fmt ", "fact" and "mext" chunks

bool CheckSize(uint32_t needed, const uint8_t* buffer, uint32_t* size) {
  const bool fits = buffer != nullptr && *size >= needed;
  *size = needed;
  if (!fits) SetLastError(kErrorNotEnoughMemory);
  return fits;
}

void PutTag(uint8_t* p, const char* tag) { std::memcpy(p, tag, 4); }

// Copies at most `field` bytes of a formatted text; the header was zeroed, so
// a shorter text stays NUL-padded.
void PutField(uint8_t* p, size_t field, std::string_view text) {
  std::memcpy(p, text.data(), std::min(text.size(), field));
}

template <typename... Args>
std::string Printf(const char* format, Args... args) {
  char text[256];
  const int n = std::snprintf(text, sizeof text, format, args...);
  return std::string(text, static_cast<size_t>(std::clamp(n, 0, static_cast<int>(sizeof text) - 1)));
}

const char* ModeWord(const RecordingRecord& r) { return r.Channels() < 2 ? "mono  " : "stereo"; }

// The 32-bit size fields of RIFF cannot describe every recording: a file of
// 4 GiB and more, or an MPEG recording of more samples than 2^32, is written
// as RF64 (EBU Tech 3306): "RF64" instead of "RIFF" with size 0xFFFFFFFF, and
// a "ds64" chunk right after "WAVE" with the 64-bit RIFF size, data size and
// sample count; each 32-bit field that cannot hold its value says 0xFFFFFFFF.
// Every other file keeps the plain layout.
constexpr uint32_t kDs64ChunkSize = 36;  // "ds64", 28, three 64-bit sizes, empty table
constexpr uint32_t kSizeInDs64 = 0xFFFFFFFF;

struct Layout {
  uint32_t header_size = 0;  // with the ds64 chunk when rf64
  bool rf64 = false;
  uint64_t riff_size = 0;     // the file less its first 8 bytes
  uint64_t sample_count = 0;  // the fact chunk's count (MPEG), frames (PCM)
};

// `plain_size` is the header's size without a ds64 chunk.
Layout PlanLayout(const RecordingRecord& r, uint32_t plain_size) {
  Layout l;
  const uint64_t data_size = r.DataSize();
  if (r.IsLinearPcm()) {
    const uint64_t frame = uint64_t{r.Channels()} * r.BitsPerSample() / 8;
    l.sample_count = frame == 0 ? 0 : data_size / frame;
  } else {
    // Integer seconds first, then samples.
    const uint64_t bytes_per_second = r.BitRate() / 8;
    l.sample_count = bytes_per_second == 0 ? 0 : data_size / bytes_per_second * r.SampleRate();
  }
  const bool fact_overflows = !r.IsLinearPcm() && l.sample_count > UINT32_MAX;
  l.rf64 = data_size + plain_size - 8 > UINT32_MAX || fact_overflows;
  l.header_size = plain_size + (l.rf64 ? kDs64ChunkSize : 0);
  l.riff_size = data_size + l.header_size - 8;
  return l;
}

void PutU64(uint8_t* p, uint64_t v) {
  PutU32(p, static_cast<uint32_t>(v));
  PutU32(p + 4, static_cast<uint32_t>(v >> 32));
}

// Value for a 32-bit size field: the value itself, or "see ds64".
uint32_t Field32(uint64_t value) { return value > UINT32_MAX ? kSizeInDs64 : static_cast<uint32_t>(value); }

// "RIFF" (or "RF64"), its size and "WAVE", then the ds64 chunk of an RF64
// file. Returns where the header's chunks after "WAVE" would start in the
// plain layout shifted past the ds64 chunk: the chunk offsets of the plain
// layout apply from there.
uint8_t* PutRiffStart(uint8_t* h, const RecordingRecord& r, const Layout& l) {
  PutTag(h, l.rf64 ? "RF64" : "RIFF");
  PutU32(h + 4, l.rf64 ? kSizeInDs64 : static_cast<uint32_t>(l.riff_size));
  PutTag(h + 8, "WAVE");
  if (!l.rf64) return h;
  PutTag(h + 12, "ds64");
  PutU32(h + 16, kDs64ChunkSize - 8);
  PutU64(h + 20, l.riff_size);
  PutU64(h + 28, r.DataSize());
  PutU64(h + 36, l.sample_count);
  PutU32(h + 44, 0);  // no table entries
  return h + kDs64ChunkSize;
}

// "fmt " chunk of linear PCM, 24 bytes.
void PutPcmFormat(uint8_t* p, const RecordingRecord& r) {
  const uint32_t channels = r.Channels();
  const uint32_t bits = r.BitsPerSample();
  PutTag(p, "fmt ");
  PutU32(p + 4, 16);
  PutU16(p + 8, 1);
  PutU16(p + 10, static_cast<uint16_t>(channels));
  PutU32(p + 12, r.SampleRate());
  PutU32(p + 16, channels * bits * r.SampleRate() / 8);
  PutU16(p + 20, static_cast<uint16_t>(channels * bits / 8));
  PutU16(p + 22, static_cast<uint16_t>(bits));
}

// "fmt " (MPEG-1 Layer II), "fact" and "mext" chunks, 80 bytes. A zero rate
// only comes from a broken record; it gives zero fields, not a trap.
void PutMpegFormat(uint8_t* p, const RecordingRecord& r, const Layout& l) {
  const uint32_t rate = r.SampleRate();
  const uint32_t bit_rate = r.BitRate();
  const uint32_t bytes_per_second = bit_rate / 8;
  PutTag(p, "fmt ");
  PutU32(p + 4, 40);
  PutU16(p + 8, 0x50);
  PutU16(p + 10, r.Channels());
  PutU32(p + 12, rate);
  PutU32(p + 16, bytes_per_second);
  PutU16(p + 20, static_cast<uint16_t>(rate == 0 ? 0 : 144ull * bit_rate / rate));
  PutU16(p + 22, r.BitsPerSample());
  PutU16(p + 24, 22);
  PutU16(p + 26, 2);  // Layer II
  PutU32(p + 28, bit_rate);
  PutU16(p + 32, r.Channels() > 1 ? 2 : 8);  // joint stereo or single channel
  PutU16(p + 34, 0);
  PutU16(p + 36, 1);     // emphasis
  PutU16(p + 38, 0x18);  // protection bit and MPEG-1 id
  // 40..47: presentation time stamp 0
  PutTag(p + 48, "fact");
  PutU32(p + 52, 4);
  PutU32(p + 56, Field32(l.sample_count));
  PutTag(p + 60, "mext");
  PutU32(p + 64, 12);
  PutU16(p + 68, 3);     // sound information
  PutU16(p + 70, 1152);  // frame size
  PutU16(p + 72, 5);     // ancillary data length
  PutU16(p + 74, 7);     // ancillary data definition
  // 76..79: zero
}

void PutDataChunkHeader(uint8_t* p, uint32_t data_size) {
  PutTag(p, "data");
  PutU32(p + 4, data_size);
}

// The format chunks and the data chunk's header of a recording, at `p`.
void PutFormatAndData(uint8_t* p, const RecordingRecord& r, const Layout& l) {
  const uint32_t data_size = l.rf64 ? kSizeInDs64 : r.DataSize();
  if (r.IsLinearPcm()) {
    PutPcmFormat(p, r);
    PutDataChunkHeader(p + kPcmFormatChunkSize, data_size);
  } else {
    PutMpegFormat(p, r, l);
    PutDataChunkHeader(p + kMpegFormatChunksSize, data_size);
  }
}

}  // namespace

int BuildBwfHeader(const RecordingRecord& record, uint8_t* buffer, uint32_t* size,
                   std::string_view description, std::string_view device_id) {
  const bool pcm = record.IsLinearPcm();
  const Layout layout = PlanLayout(record, pcm ? kBwfPcmHeaderSize : kBwfMpegHeaderSize);
  if (!CheckSize(layout.header_size, buffer, size)) return 0;
  std::memset(buffer, 0, layout.header_size);
  uint8_t* h = PutRiffStart(buffer, record, layout);

  PutTag(h + 12, "bext");
  PutU32(h + 16, kBextChunkSize);
  // Leave room for a NUL in the text fields.
  const std::string name = record.Name();
  PutField(h + kBextDescription, kBextDescriptionSize - 1, pcm ? description : std::string_view(name));
  PutField(h + kBextOriginator, kBextOriginatorSize - 1, "TORVI LYR");
  PutField(h + kBextOriginatorReference, kBextOriginatorSize - 1, device_id);
  PutField(h + kBextDate, kBextDateSize,
           Printf("%.4u-%.2u-%.2u", record.Year(), record.Month(), record.Day()));
  PutField(h + kBextTime, kBextTimeSize,
           Printf("%.2u:%.2u:%.2u", record.Hour(), record.Minute(), record.Second()));
  PutField(h + kBextFreeText, record::kFreeTextMax, record.FreeText());

  const unsigned rate = record.SampleRate();
  const unsigned bits = record.BitsPerSample();
  const char* mode = ModeWord(record);
  const std::string history =
      pcm ? Printf("A=PCM,F=%.5u,W=%.2u,M=%s\r\nA=PCM,F=%.5u,W=%.2u,M=%s\r\n", rate, bits, mode, rate, bits,
                   mode)
          : Printf("A=PCM,F=%.5u,W=%.2u,M=%s\r\nA=MPEG1L2,F=%.5u,B=%.3u,W=%.2u,M=%s\r\n", rate, bits, mode,
                   rate, record.BitRate() / 1000, bits, mode);
  PutField(h + kBextCodingHistory, kBextCodingHistorySize, history);
  PutFormatAndData(h + kBwfFormatChunk, record, layout);
  return 1;
}

int BuildWaveHeader(const RecordingRecord& record, uint8_t* buffer, uint32_t* size, std::string_view) {
  const Layout layout = PlanLayout(record, record.IsLinearPcm() ? kWavePcmHeaderSize : kWaveMpegHeaderSize);
  if (!CheckSize(layout.header_size, buffer, size)) return 0;
  std::memset(buffer, 0, layout.header_size);
  uint8_t* h = PutRiffStart(buffer, record, layout);
  PutFormatAndData(h + 12, record, layout);
  return 1;
}

int BuildCdWaveHeader(uint32_t data_size, uint8_t* buffer, uint32_t* size) {
  if (!CheckSize(kCdWaveHeaderSize, buffer, size)) return 0;
  uint8_t* h = buffer;
  PutTag(h, "RIFF");
  PutU32(h + 4, data_size + 36);
  PutTag(h + 8, "WAVE");
  PutTag(h + 12, "fmt ");
  PutU32(h + 16, 16);
  PutU16(h + 20, 1);
  PutU16(h + 22, 2);
  PutU32(h + 24, 44100);
  PutU32(h + 28, 176400);
  PutU16(h + 32, 4);
  PutU16(h + 34, 16);
  PutDataChunkHeader(h + 36, data_size);
  return 1;
}

}  // namespace lyr
