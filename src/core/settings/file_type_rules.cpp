#include "settings/file_type_rules.h"

#include <algorithm>
#include <cstring>
#include <span>

#include "link/protocol.h"

namespace lyr {
namespace {

template <size_t N>
bool Offers(const std::array<FileTypeChoice, N>& list, uint32_t value) {
  return std::any_of(list.begin(), list.end(), [&](const FileTypeChoice& c) { return c.value == value; });
}

template <size_t N>
std::string Values(const std::array<FileTypeChoice, N>& list) {
  std::string text;
  for (const auto& c : list) text += (text.empty() ? "" : ", ") + std::to_string(c.value);
  return text;
}

Error Refused(std::string why) { return Error::Code(kErrorInvalidParameter, std::move(why)); }

Status PutEdit(char* field, size_t width, size_t max, const std::string& text, const char* what) {
  if (text.size() > max)
    return Refused(std::string(what) + " takes at most " + std::to_string(max) + " characters");
  std::memset(field, 0, width);
  std::memcpy(field, text.data(), text.size());
  return {};
}

}  // namespace

uint32_t PcmBitRate(const FileFormatTemplate& format) {
  return static_cast<uint32_t>(uint64_t{format.bits} * format.channels * format.samplerate);
}

Result<FileFormatTemplate> ApplyFileTypeRequest(FileFormatTemplate current, const FileTypeRequest& request) {
  FileFormatTemplate next = current;
  if (!Offers(kFileTypeCodecs, request.codec)) return Refused("the type must be WAV-PCM16 or MPEG1-Layer2");
  if (!Offers(kFileTypeSampleRates, request.sample_rate))
    return Refused("the sampling frequency must be one of " + Values(kFileTypeSampleRates) + " Hz");
  next.codecid = request.codec;
  next.samplerate = request.sample_rate;
  if (request.channels) next.channels = *request.channels;
  if (!Offers(kFileTypeChannels, next.channels))
    return Refused("the channels must be 2 (STEREO) or 1 (MONO)");

  const bool pcm = next.codecid == protocol::kCodecLinearPcm;
  if (request.bits) {
    if (pcm && *request.bits != kFileTypePcmBits) return Refused("WAV-PCM16 records 16 bits per sample");
    next.bits = *request.bits;
  }
  if (pcm) {
    if (next.bits != kFileTypePcmBits) next.bits = kFileTypePcmBits;
    const uint32_t rate = PcmBitRate(next);
    if (request.bit_rate && *request.bit_rate != rate)
      return Refused("the bit rate of WAV-PCM16 is bits x channels x sampling frequency (" +
                     std::to_string(rate) + " here); leave it out");
    next.bitrate = rate;
  } else if (request.bit_rate) {
    if (!Offers(kFileTypeBitRates, *request.bit_rate))
      return Refused("the bit rate must be one of " + Values(kFileTypeBitRates) + " bit/s");
    next.bitrate = *request.bit_rate;
  } else if (current.codecid != next.codecid || !Offers(kFileTypeBitRates, next.bitrate)) {
    next.bitrate = kFileTypeDefaultMpegBitRate;
  }
  if (request.file_name_prefix)
    LYR_TRY(PutEdit(next.filename, sizeof next.filename, kFileTypePrefixMax, *request.file_name_prefix,
                    "the file name"));
  if (request.file_extension)
    LYR_TRY(PutEdit(next.extname, sizeof next.extname, kFileTypeExtensionMax, *request.file_extension,
                    "the file extension"));
  return next;
}

}  // namespace lyr
