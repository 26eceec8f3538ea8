#include "emulator/audio_import.h"

#include <twolame.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <random>
#include <vector>

#include "platform/byte_order.h"
#include "recordings/recording_record.h"

namespace lyr_emu {
namespace fs = std::filesystem;
using lyr::GetU16;
using lyr::GetU32;
using lyr::PutU16;
using lyr::PutU32;

namespace {

struct AudioShape {
  uint32_t sample_rate = 0;
  uint32_t bit_rate = 0;
  uint16_t bits = 16;
  uint16_t channels = 0;
  uint32_t codec = 0;
  uint64_t data_offset = 0;
  uint64_t data_length = 0;
};

bool ReadHead(const fs::path& file, std::vector<uint8_t>* head, size_t max) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  head->resize(max);
  in.read(reinterpret_cast<char*>(head->data()), static_cast<std::streamsize>(max));
  head->resize(static_cast<size_t>(in.gcount()));
  return true;
}

lyr::Result<AudioShape> ParseWave(const fs::path& file, uint64_t file_size) {
  AudioShape shape;
  std::ifstream in(file, std::ios::binary);
  uint8_t riff[12];
  if (!in.read(reinterpret_cast<char*>(riff), 12) || std::memcmp(riff, "RIFF", 4) != 0 ||
      std::memcmp(riff + 8, "WAVE", 4) != 0)
    return lyr::Error::Code(lyr::kErrorInvalidData, "not a WAVE file");
  bool have_fmt = false;
  uint64_t pos = 12;
  while (pos + 8 <= file_size) {
    uint8_t chunk[8];
    in.seekg(static_cast<std::streamoff>(pos));
    if (!in.read(reinterpret_cast<char*>(chunk), 8)) break;
    const uint32_t size = GetU32(chunk + 4);
    if (std::memcmp(chunk, "fmt ", 4) == 0 && size >= 16) {
      uint8_t fmt[16];
      if (!in.read(reinterpret_cast<char*>(fmt), 16)) break;
      const uint16_t tag = GetU16(fmt);
      shape.channels = GetU16(fmt + 2);
      shape.sample_rate = GetU32(fmt + 4);
      shape.bits = GetU16(fmt + 14);
      if (tag != 1 || shape.bits != 16 || shape.channels < 1 || shape.channels > 2)
        return lyr::Error::Code(lyr::kErrorInvalidData,
                                "only 16-bit PCM WAVE files with one or two channels can be recordings");
      have_fmt = true;
    } else if (std::memcmp(chunk, "data", 4) == 0) {
      if (!have_fmt) break;
      shape.data_offset = pos + 8;
      shape.data_length = std::min<uint64_t>(size, file_size - shape.data_offset);
      shape.data_length -= shape.data_length % (2u * shape.channels);
      shape.codec = lyr::protocol::kCodecLinearPcm;
      shape.bit_rate = shape.sample_rate * shape.channels * 16;
      return shape;
    }
    pos += 8 + size + (size & 1);
  }
  return lyr::Error::Code(lyr::kErrorInvalidData, "the WAVE file has no usable fmt and data chunks");
}

// The stand-in reads Layer II headers with its own small reader on purpose,
// not with the manager's MpegHeader: it fills the records the manager reads,
// and a fault common to both readers would pass every test unseen.
lyr::Result<AudioShape> ParseLayer2(const std::vector<uint8_t>& head, uint64_t file_size) {
  static const uint16_t kRatesMpeg1[3] = {44100, 48000, 32000};
  static const uint16_t kRatesMpeg2[3] = {22050, 24000, 16000};
  static const uint16_t kKbpsMpeg1[15] = {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384};
  static const uint16_t kKbpsMpeg2[15] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
  uint64_t start = 0;
  // Skip an ID3v2 tag, if a tool put one in front.
  if (head.size() >= 10 && std::memcmp(head.data(), "ID3", 3) == 0) {
    start = 10 + ((head[6] & 0x7F) << 21 | (head[7] & 0x7F) << 14 | (head[8] & 0x7F) << 7 | (head[9] & 0x7F));
  }
  if (start + 4 > head.size()) return lyr::Error::Code(lyr::kErrorInvalidData, "not an MPEG audio file");
  const uint8_t* h = head.data() + start;
  const bool sync = h[0] == 0xFF && (h[1] & 0xF0) == 0xF0;
  const bool mpeg1 = (h[1] & 0x08) != 0;
  const int layer = 4 - ((h[1] >> 1) & 3);
  const int rate_index = (h[2] >> 2) & 3;
  const int bitrate_index = h[2] >> 4;
  if (!sync || layer != 2 || rate_index == 3 || bitrate_index == 0 || bitrate_index == 15)
    return lyr::Error::Code(lyr::kErrorInvalidData, "not an MPEG Layer II stream (make one with twolame)");
  AudioShape shape;
  shape.sample_rate = mpeg1 ? kRatesMpeg1[rate_index] : kRatesMpeg2[rate_index];
  shape.bit_rate = (mpeg1 ? kKbpsMpeg1[bitrate_index] : kKbpsMpeg2[bitrate_index]) * 1000u;
  shape.channels = ((h[3] >> 6) & 3) == 3 ? 1 : 2;
  shape.bits = 16;
  shape.codec = lyr::protocol::kCodecMpegLayer2;
  shape.data_offset = start;
  shape.data_length = file_size - start;
  return shape;
}

void PutText(uint8_t* field, size_t width, const std::string& text) {
  std::memset(field, 0, width);
  std::memcpy(field, text.data(), std::min(width - 1, text.size()));
}

std::tm Now() {
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  return tm;
}

}  // namespace

bool ParseDateTime(const std::string& text, std::tm* out) {
  std::tm tm{};
  int y, mo, d, h, mi, s;
  char tail;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &s, &tail) != 6)
    return false;
  if (y < 1980 || y > 2099 || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 59 || h < 0 ||
      mi < 0 || s < 0)
    return false;
  tm.tm_year = y - 1900;
  tm.tm_mon = mo - 1;
  tm.tm_mday = d;
  tm.tm_hour = h;
  tm.tm_min = mi;
  tm.tm_sec = s;
  *out = tm;
  return true;
}

std::array<uint8_t, 652> MakeRecordingRecord(uint32_t sample_rate, uint32_t bit_rate, uint16_t bits,
                                             uint16_t channels, uint32_t codec, const std::tm& date,
                                             const std::string& name, const std::string& text) {
  std::array<uint8_t, 652> r{};
  uint8_t* p = r.data();
  PutU32(p + 72, sample_rate);
  PutU32(p + 76, bit_rate);
  PutU16(p + 80, bits);
  PutU16(p + 82, channels);
  PutU32(p + 84, codec);
  PutU16(p + 112, static_cast<uint16_t>(date.tm_year + 1900));
  PutU16(p + 114, static_cast<uint16_t>(date.tm_mon + 1));
  PutU16(p + 116, static_cast<uint16_t>(date.tm_mday));
  PutU16(p + 118, static_cast<uint16_t>(date.tm_hour));
  PutU16(p + 120, static_cast<uint16_t>(date.tm_min));
  // The clock keeps even seconds; the digit at 136 carries the odd one.
  PutU16(p + 122, static_cast<uint16_t>(date.tm_sec & ~1));
  PutText(p + 124, 12, name);
  p[136] = static_cast<uint8_t>('0' + date.tm_sec % 10);
  PutText(p + 396, 254, text);
  return r;
}

lyr::Result<uint32_t> ImportAudioFile(RecorderStore& store, const fs::path& file,
                                      const ImportOptions& options) {
  std::error_code ec;
  const uint64_t size = fs::file_size(file, ec);
  std::vector<uint8_t> head;
  if (ec || !ReadHead(file, &head, 1 << 16))
    return lyr::Error::Code(lyr::kErrorFileNotFound, "cannot read " + file.string());
  const bool is_wave = head.size() >= 12 && std::memcmp(head.data(), "RIFF", 4) == 0;
  auto parsed = is_wave ? ParseWave(file, size) : ParseLayer2(head, size);
  if (!parsed) {
    lyr::Error error = parsed.error();
    error.context = file.string() + ": " + error.context;
    return error;
  }
  const AudioShape& shape = parsed.value();
  RecorderConfig& config = store.config();
  std::string name = options.name;
  if (name.empty()) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.7s%04u", config.file_prefix.c_str(), (config.file_counter + 1) % 10000);
    name = buf;
  }
  if (name.size() > 11)
    return lyr::Error::Code(lyr::kErrorInvalidParameter, "a recording name holds at most 11 characters");
  const std::tm date = options.date ? *options.date : Now();
  auto record = MakeRecordingRecord(shape.sample_rate, shape.bit_rate, shape.bits, shape.channels,
                                    shape.codec, date, name, options.text);
  LYR_TRY_ASSIGN(const uint32_t entry,
                 store.AddRecording(record, file, shape.data_offset, shape.data_length, options.entry));
  ++config.file_counter;
  LYR_TRY(store.SaveConfig());
  return entry;
}

bool WritePcmWaveFile(const int16_t* pcm, size_t frames, int channels, int sample_rate, const fs::path& out) {
  const uint32_t data = static_cast<uint32_t>(frames * channels * 2);
  uint8_t h[44] = {};
  std::memcpy(h, "RIFF", 4);
  PutU32(h + 4, data + 36);
  std::memcpy(h + 8, "WAVEfmt ", 8);
  PutU32(h + 16, 16);
  PutU16(h + 20, 1);
  PutU16(h + 22, static_cast<uint16_t>(channels));
  PutU32(h + 24, static_cast<uint32_t>(sample_rate));
  PutU32(h + 28, static_cast<uint32_t>(sample_rate * channels * 2));
  PutU16(h + 32, static_cast<uint16_t>(channels * 2));
  PutU16(h + 34, 16);
  std::memcpy(h + 36, "data", 4);
  PutU32(h + 40, data);
  std::ofstream f(out, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(h), 44);
  // Samples are little-endian on disk.
  std::vector<uint8_t> bytes(data);
  for (size_t i = 0; i < frames * channels; ++i) PutU16(&bytes[i * 2], static_cast<uint16_t>(pcm[i]));
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(f);
}

lyr::Status EncodeLayer2File(const int16_t* pcm, size_t frames, int channels, int sample_rate,
                             int bitrate_kbps, bool joint_stereo, bool crc, const fs::path& out) {
  twolame_options* opts = twolame_init();
  if (opts == nullptr) return lyr::Error::Code(lyr::kErrorNotEnoughMemory, "twolame: cannot initialise");
  twolame_set_num_channels(opts, channels);
  twolame_set_in_samplerate(opts, sample_rate);
  twolame_set_out_samplerate(opts, sample_rate);
  twolame_set_bitrate(opts, bitrate_kbps);
  twolame_set_mode(opts,
                   channels == 1 ? TWOLAME_MONO : (joint_stereo ? TWOLAME_JOINT_STEREO : TWOLAME_STEREO));
  twolame_set_error_protection(opts, crc ? 1 : 0);
  if (twolame_init_params(opts) != 0) {
    twolame_close(&opts);
    return lyr::Error::Code(lyr::kErrorInvalidParameter, "twolame: unsupported parameters");
  }
  std::ofstream f(out, std::ios::binary | std::ios::trunc);
  std::vector<unsigned char> mp2(1 << 16);
  const size_t chunk = 1152 * 4;
  bool ok = static_cast<bool>(f);
  std::vector<short> block;
  for (size_t done = 0; ok && done < frames; done += chunk) {
    const size_t n = std::min(chunk, frames - done);
    block.assign(pcm + done * channels, pcm + (done + n) * channels);
    const int bytes = twolame_encode_buffer_interleaved(opts, block.data(), static_cast<int>(n), mp2.data(),
                                                        static_cast<int>(mp2.size()));
    ok = bytes >= 0 && f.write(reinterpret_cast<char*>(mp2.data()), bytes);
  }
  if (ok) {
    const int bytes = twolame_encode_flush(opts, mp2.data(), static_cast<int>(mp2.size()));
    ok = bytes >= 0 && f.write(reinterpret_cast<char*>(mp2.data()), bytes);
  }
  twolame_close(&opts);
  if (!ok) return lyr::Error::Code(lyr::kErrorIoDevice, "twolame: encoding failed");
  return {};
}

namespace {

// A short musical phrase with speech-like bursts: never clips, never silent.
std::vector<int16_t> DemoSignal(int sample_rate, int channels, double seconds, double base_hz,
                                unsigned seed) {
  const size_t frames = static_cast<size_t>(sample_rate * seconds);
  std::vector<int16_t> pcm(frames * channels);
  std::mt19937 rng(seed);
  std::normal_distribution<double> noise(0.0, 0.02);
  const double pi = 3.14159265358979323846;
  for (size_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / sample_rate;
    const double envelope = 0.55 + 0.35 * std::sin(2 * pi * 0.7 * t);
    const double burst = (std::fmod(t, 1.2) < 0.6) ? 1.0 : 0.35;
    for (int c = 0; c < channels; ++c) {
      const double f = base_hz * (c == 0 ? 1.0 : 1.5);
      const double v =
          envelope * burst * (0.35 * std::sin(2 * pi * f * t) + 0.15 * std::sin(2 * pi * 2.01 * f * t + c)) +
          noise(rng);
      pcm[i * channels + c] = static_cast<int16_t>(std::lround(std::clamp(v, -0.95, 0.95) * 32767.0));
    }
  }
  return pcm;
}

}  // namespace

lyr::Status AddDemoRecordings(RecorderStore& store) {
  struct Demo {
    bool mpeg;
    int rate, channels, kbps;
    double seconds, base_hz;
    const char* date;
    const char* text;
  };
  static const Demo kDemos[] = {
      {true, 48000, 2, 192, 12.0, 220.0, "2011-08-19T10:20:37", "Interview, studio A"},
      {false, 48000, 2, 0, 10.0, 330.0, "2011-08-19T11:02:14", "Stereo PCM reference"},
      {true, 44100, 1, 128, 8.0, 262.0, "2011-08-20T09:15:01", "Mono dictation"},
      {false, 44100, 1, 0, 6.0, 392.0, "2011-08-21T16:40:58", "Mono PCM note"},
      {true, 32000, 2, 96, 9.0, 196.0, "2011-08-22T08:05:33", "Field recording, 32 kHz"},
      {false, 32000, 2, 0, 5.0, 440.0, "2011-08-23T19:59:59", "Short PCM clip"},
  };
  const fs::path tmp = store.dir() / ".demo.tmp";
  unsigned seed = 1;
  for (const Demo& d : kDemos) {
    const std::vector<int16_t> pcm = DemoSignal(d.rate, d.channels, d.seconds, d.base_hz, seed++);
    const size_t frames = pcm.size() / d.channels;
    if (d.mpeg) {
      LYR_TRY(EncodeLayer2File(pcm.data(), frames, d.channels, d.rate, d.kbps, true, false, tmp));
    } else if (!WritePcmWaveFile(pcm.data(), frames, d.channels, d.rate, tmp)) {
      return lyr::Error::Code(lyr::kErrorIoDevice, "cannot write " + tmp.string());
    }
    ImportOptions options;
    std::tm date{};
    ParseDateTime(d.date, &date);
    options.date = date;
    options.text = d.text;
    const auto imported = ImportAudioFile(store, tmp, options);
    std::error_code ec;
    fs::remove(tmp, ec);
    LYR_TRY(imported);
  }
  return {};
}

}  // namespace lyr_emu
