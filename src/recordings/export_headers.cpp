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
void PutMpegFormat(uint8_t* p, const RecordingRecord& r) {
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
  PutU32(p + 56, bytes_per_second == 0 ? 0 : r.DataSize() / bytes_per_second * rate);
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

}  // namespace

int BuildBwfHeader(const RecordingRecord& record, uint8_t* buffer, uint32_t* size,
                   std::string_view description, std::string_view device_id) {
  const bool pcm = record.IsLinearPcm();
  const uint32_t header_size = pcm ? kBwfPcmHeaderSize : kBwfMpegHeaderSize;
  if (!CheckSize(header_size, buffer, size)) return 0;
  uint8_t* h = buffer;
  std::memset(h, 0, header_size);

  const uint32_t data_size = record.DataSize();
  PutTag(h, "RIFF");
  PutU32(h + 4, data_size + header_size - 8);
  PutTag(h + 8, "WAVE");
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

  if (pcm) {
    PutPcmFormat(h + kBwfFormatChunk, record);
    PutDataChunkHeader(h + kBwfFormatChunk + kPcmFormatChunkSize, data_size);
  } else {
    PutMpegFormat(h + kBwfFormatChunk, record);
    PutDataChunkHeader(h + kBwfFormatChunk + kMpegFormatChunksSize, data_size);
  }
  return 1;
}

int BuildWaveHeader(const RecordingRecord& record, uint8_t* buffer, uint32_t* size, std::string_view) {
  const bool pcm = record.IsLinearPcm();
  const uint32_t header_size = pcm ? kWavePcmHeaderSize : kWaveMpegHeaderSize;
  if (!CheckSize(header_size, buffer, size)) return 0;
  uint8_t* h = buffer;
  std::memset(h, 0, header_size);
  PutTag(h, "RIFF");
  PutU32(h + 4, record.DataSize() + header_size - 8);
  PutTag(h + 8, "WAVE");
  if (pcm) {
    PutPcmFormat(h + 12, record);
  } else {
    PutMpegFormat(h + 12, record);
  }
  PutDataChunkHeader(h + header_size - 8, record.DataSize());
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
