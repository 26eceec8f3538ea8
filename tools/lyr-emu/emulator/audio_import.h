#pragma once
#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "emulator/recorder_store.h"
#include "platform/result.h"

namespace lyr_emu {

struct ImportOptions {
  std::string name;             // empty: file prefix + the next four-digit index
  std::optional<std::tm> date;  // empty: now
  std::string text;             // free text carried into BWF headers
  uint32_t entry = 0;           // 0: next free entry
};

// Adds a 16-bit PCM WAVE file or an MPEG-1/2 Layer II stream (as twolame
// writes it) as a recording, with the record filled from the audio. Returns
// the entry used.
lyr::Result<uint32_t> ImportAudioFile(RecorderStore& store, const std::filesystem::path& file,
                                      const ImportOptions& options);

// Builds the 652-byte record for audio of the given shape.
std::array<uint8_t, 652> MakeRecordingRecord(uint32_t sample_rate, uint32_t bit_rate, uint16_t bits,
                                             uint16_t channels, uint32_t codec, const std::tm& date,
                                             const std::string& name, const std::string& text);

// Parses "YYYY-MM-DDTHH:MM:SS".
bool ParseDateTime(const std::string& text, std::tm* out);

// The demo recordings: PCM and Layer II, mono and stereo, 32/44.1/48 kHz.
// Layer II data is made with libtwolame.
lyr::Status AddDemoRecordings(RecorderStore& store);

// Encodes interleaved 16-bit PCM to an MPEG Layer II file with libtwolame.
lyr::Status EncodeLayer2File(const int16_t* pcm, size_t frames, int channels, int sample_rate,
                             int bitrate_kbps, bool joint_stereo, bool crc, const std::filesystem::path& out);

// Writes interleaved 16-bit PCM as a plain WAVE file.
bool WritePcmWaveFile(const int16_t* pcm, size_t frames, int channels, int sample_rate,
                      const std::filesystem::path& out);

}  // namespace lyr_emu
