#pragma once
#include <cstdint>
#include <string_view>

#include "recordings/recording_record.h"

namespace lyr {

// Header sizes of the exported files.
constexpr uint32_t kBwfPcmHeaderSize = 724;
constexpr uint32_t kBwfMpegHeaderSize = 780;
constexpr uint32_t kWavePcmHeaderSize = 44;
constexpr uint32_t kWaveMpegHeaderSize = 100;
constexpr uint32_t kCdWaveHeaderSize = 44;

// Each builder writes the header that goes before a recording's audio data.
// `size` holds the buffer's size on entry and the header's size on return.
// With a buffer too small (a first call with size 0 asks for the size) the
// result is 0, `size` the needed size and last error 8; nothing is written.
// Linear PCM records (codec 0x70001) get the PCM variant, every other codec
// the MPEG variant. A recording whose sizes do not fit the 32-bit fields (a
// file of 4 GiB or more, or more than 2^32 MPEG samples) gets an RF64 header:
// "RF64" and a 36-byte "ds64" chunk after "WAVE" with the 64-bit sizes, so
// the header is 36 bytes longer than the sizes below.

// Broadcast WAVE with a "bext" chunk. `description` is the PCM header's
// Description (the MPEG header carries the recording name there instead);
// `device_id` is the recorder's id, the originator reference.
int BuildBwfHeader(const RecordingRecord& record, uint8_t* buffer, uint32_t* size,
                   std::string_view description, std::string_view device_id = {});

// Plain WAVE; `description` is not used.
int BuildWaveHeader(const RecordingRecord& record, uint8_t* buffer, uint32_t* size,
                    std::string_view description = {});

// 16-bit stereo 44.1 kHz WAVE for audio CD tracks.
int BuildCdWaveHeader(uint32_t data_size, uint8_t* buffer, uint32_t* size);

}  // namespace lyr
