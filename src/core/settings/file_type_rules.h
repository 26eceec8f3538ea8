#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/result.h"
#include "settings/settings_templates.h"

namespace lyr {

// The FILE TYPE page's choices: what each list offers, text and value.
struct FileTypeChoice {
  const char* text;
  uint32_t value;
};
inline constexpr std::array<FileTypeChoice, 2> kFileTypeCodecs = {
    {{"WAV-PCM16", 0x70001}, {"MPEG1-Layer2", 0x7000F}}};
inline constexpr std::array<FileTypeChoice, 2> kFileTypeChannels = {{{"STEREO", 2}, {"MONO", 1}}};
inline constexpr std::array<FileTypeChoice, 3> kFileTypeSampleRates = {
    {{"32 kHz", 32000}, {"44 kHz", 44100}, {"48 kHz", 48000}}};
inline constexpr std::array<FileTypeChoice, 14> kFileTypeBitRates = {{{"32 kb/s", 32000},
                                                                      {"48 kb/s", 48000},
                                                                      {"56 kb/s", 56000},
                                                                      {"64 kb/s", 64000},
                                                                      {"80 kb/s", 80000},
                                                                      {"96 kb/s", 96000},
                                                                      {"112 kb/s", 112000},
                                                                      {"128 kb/s", 128000},
                                                                      {"160 kb/s", 160000},
                                                                      {"192 kb/s", 192000},
                                                                      {"224 kb/s", 224000},
                                                                      {"256 kb/s", 256000},
                                                                      {"320 kb/s", 320000},
                                                                      {"384 kb/s", 384000}}};
// The bit rate chosen when the type becomes MPEG.
inline constexpr uint32_t kFileTypeDefaultMpegBitRate = 128000;
// The PCM type is 16-bit; the page never changes the sample size.
inline constexpr uint16_t kFileTypePcmBits = 16;
// The prefix edit takes 4 characters; the extension edit 3, so that the
// recorder's 4-byte extension field always keeps its terminator.
inline constexpr size_t kFileTypePrefixMax = 4;
inline constexpr size_t kFileTypeExtensionMax = 3;

// Bits per sample x channels x sample rate, the bit rate of linear PCM.
uint32_t PcmBitRate(const FileFormatTemplate& format);

// A change of the file type as a user asks for it; members left empty keep
// what the recorder has.
struct FileTypeRequest {
  uint32_t codec = 0;
  uint32_t sample_rate = 0;
  std::optional<uint32_t> bit_rate;
  std::optional<uint16_t> bits;
  std::optional<uint16_t> channels;
  std::optional<std::string> file_name_prefix;
  std::optional<std::string> file_extension;
};

// The file type block after `request`, by the page's rules: every value must
// be one of its list's; the PCM bit rate follows from bits, channels and rate
// (a different --bitrate is refused); a change to MPEG without a bit rate
// takes 128 kb/s; the prefix takes at most 4 characters and the extension 3. The
// error (ERROR_INVALID_PARAMETER) says what the page would not let through.
Result<FileFormatTemplate> ApplyFileTypeRequest(FileFormatTemplate current, const FileTypeRequest& request);

}  // namespace lyr
