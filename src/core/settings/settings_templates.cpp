#include "settings/settings_templates.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "link/protocol.h"
#include "platform/byte_order.h"
#include "settings/profile_file.h"

namespace lyr {
namespace {

constexpr char kCommon[] = "common";
constexpr char kInputCount[] = "InDevTemplateCount";
constexpr char kFormatCount[] = "FileFmtTemplateCount";

std::string Numbered(const char* prefix, int n) {
  char text[32];
  std::snprintf(text, sizeof text, "%s%d", prefix, n);
  return text;
}

int16_t I16(int value) { return static_cast<int16_t>(value); }

std::unique_ptr<InputTemplate> BuiltInInputTemplate() {
  auto t = std::make_unique<InputTemplate>();
  SetFieldText(t->name, sizeof t->name, "TORVI");
  t->indev = 2;
  t->matrix = 0;
  t->agc_lv = 2;
  t->rec_buf = 0;
  t->rec_lv = 200;
  t->a_gain = 0;
  t->out_vol = -10;
  t->bst = 0;
  t->pwr = 1;
  t->flt = 1;
  return t;
}

std::unique_ptr<FileFormatTemplate> MakeFormat(const char* name, uint32_t codec, uint32_t bitrate) {
  auto t = std::make_unique<FileFormatTemplate>();
  SetFieldText(t->name, sizeof t->name, name);
  SetFieldText(t->filename, sizeof t->filename, "USER");
  SetFieldText(t->extname, sizeof t->extname, "WAV");
  t->codecid = codec;
  t->samplerate = 44100;
  t->bitrate = bitrate;
  t->channels = 2;
  t->bits = 16;
  return t;
}

std::unique_ptr<InputTemplate> ReadInputTemplate(const ProfileFile& file, int n) {
  const std::string section = Numbered("InDev", n);
  auto t = std::make_unique<InputTemplate>();
  t->indev = I16(file.GetInt(section, "indev", 1));
  t->matrix = I16(file.GetInt(section, "matrix", 0));
  t->agc_lv = I16(file.GetInt(section, "agc_lv", 0));
  t->rec_buf = I16(file.GetInt(section, "rec_buf", 0));
  t->rec_lv = I16(file.GetInt(section, "rec_lv", 200));
  t->a_gain = I16(file.GetInt(section, "a_gain", 0));
  t->out_vol = I16(file.GetInt(section, "out_vol", -10));
  t->bst = file.GetInt(section, "bst", 0);
  t->pwr = file.GetInt(section, "pwr", 0);
  t->flt = file.GetInt(section, "flt", 0);
  // Room for 31 characters: the name always keeps its terminator.
  SetFieldText(t->name, sizeof t->name, file.GetString(section, "name", Numbered("Type", n), sizeof t->name));
  return t;
}

std::unique_ptr<FileFormatTemplate> ReadFormatTemplate(const ProfileFile& file, int n) {
  const std::string section = Numbered("FileFmt", n);
  auto t = std::make_unique<FileFormatTemplate>();
  t->codecid = static_cast<uint32_t>(file.GetInt(section, "codecid", static_cast<int>(protocol::kCodecLinearPcm)));
  t->samplerate = static_cast<uint32_t>(file.GetInt(section, "samplerate", 44100));
  t->bitrate = static_cast<uint32_t>(file.GetInt(section, "bitrate", 128000));
  t->channels = static_cast<uint16_t>(file.GetInt(section, "channels", 2));
  t->bits = static_cast<uint16_t>(file.GetInt(section, "bits", 16));
  // Read with room for 63 characters, then cut to the field, which may then
  // hold no terminator.
  constexpr size_t kRead = 64;
  SetFieldText(t->name, sizeof t->name, file.GetString(section, "name", Numbered("Type", n), kRead));
  SetFieldText(t->filename, sizeof t->filename, file.GetString(section, "filename", "USER", kRead));
  SetFieldText(t->extname, sizeof t->extname, file.GetString(section, "extname", "WAV", kRead));
  return t;
}

int BoundedCount(int count) { return std::min(count, kMaxTemplateCount); }

}  // namespace

std::string FieldText(const char* field, size_t width) {
  const void* nul = std::memchr(field, 0, width);
  return std::string(field, nul ? static_cast<const char*>(nul) - field : width);
}

void SetFieldText(char* field, size_t width, std::string_view text) {
  std::memset(field, 0, width);
  std::memcpy(field, text.data(), std::min(text.size(), width));
}

void FileFormatTemplate::ToBytes(uint8_t* out) const {
  std::memcpy(out, name, 32);
  std::memcpy(out + 32, filename, 8);
  std::memcpy(out + 40, extname, 4);
  PutU32(out + 44, codecid);
  PutU32(out + 48, samplerate);
  PutU32(out + 52, bitrate);
  PutU16(out + 56, channels);
  PutU16(out + 58, bits);
}

FileFormatTemplate FileFormatTemplate::FromBytes(const uint8_t* in) {
  FileFormatTemplate t;
  std::memcpy(t.name, in, 32);
  std::memcpy(t.filename, in + 32, 8);
  std::memcpy(t.extname, in + 40, 4);
  t.codecid = GetU32(in + 44);
  t.samplerate = GetU32(in + 48);
  t.bitrate = GetU32(in + 52);
  t.channels = GetU16(in + 56);
  t.bits = GetU16(in + 58);
  return t;
}

void InputTemplate::ToBytes(uint8_t* out) const {
  std::memcpy(out, name, 32);
  const int16_t shorts[7] = {indev, matrix, agc_lv, rec_buf, rec_lv, a_gain, out_vol};
  for (int i = 0; i < 7; ++i) PutU16(out + 32 + 2 * i, static_cast<uint16_t>(shorts[i]));
  std::memcpy(out + 46, padding, 2);
  PutU32(out + 48, static_cast<uint32_t>(bst));
  PutU32(out + 52, static_cast<uint32_t>(pwr));
  PutU32(out + 56, static_cast<uint32_t>(flt));
}

InputTemplate InputTemplate::FromBytes(const uint8_t* in) {
  InputTemplate t;
  std::memcpy(t.name, in, 32);
  int16_t* shorts[7] = {&t.indev, &t.matrix, &t.agc_lv, &t.rec_buf, &t.rec_lv, &t.a_gain, &t.out_vol};
  for (int i = 0; i < 7; ++i) *shorts[i] = static_cast<int16_t>(GetU16(in + 32 + 2 * i));
  std::memcpy(t.padding, in + 46, 2);
  t.bst = static_cast<int32_t>(GetU32(in + 48));
  t.pwr = static_cast<int32_t>(GetU32(in + 52));
  t.flt = static_cast<int32_t>(GetU32(in + 56));
  return t;
}

void LoadTemplates(const ProfileFile& file, InputTemplateList& inputs, FileFormatTemplateList& formats) {
  const int format_count = file.GetInt(kCommon, kFormatCount, 0);
  const int input_count = file.GetInt(kCommon, kInputCount, 0);

  if (input_count == 0) {
    inputs.push_back(BuiltInInputTemplate());
  } else {
    for (int n = 1; n <= BoundedCount(input_count); ++n) inputs.push_back(ReadInputTemplate(file, n));
  }

  if (format_count == 0) {
    formats.push_back(MakeFormat("HIGH", protocol::kCodecLinearPcm, 0));
    formats.push_back(MakeFormat("MEDIUM", protocol::kCodecMpegLayer2, 256000));
    formats.push_back(MakeFormat("LOW", protocol::kCodecMpegLayer2, 128000));
  } else {
    for (int n = 1; n <= BoundedCount(format_count); ++n) formats.push_back(ReadFormatTemplate(file, n));
  }
}

void SaveTemplates(ProfileFile& file, const InputTemplateList& inputs,
                   const FileFormatTemplateList& formats) {
  file.WriteInt(kCommon, kInputCount, static_cast<int>(inputs.size()));
  file.WriteInt(kCommon, kFormatCount, static_cast<int>(formats.size()));

  int n = 0;
  for (const auto& t : inputs) {
    const std::string section = Numbered("InDev", ++n);
    file.WriteInt(section, "indev", t->indev);
    file.WriteInt(section, "matrix", t->matrix);
    file.WriteInt(section, "agc_lv", t->agc_lv);
    file.WriteInt(section, "rec_buf", t->rec_buf);
    file.WriteInt(section, "rec_lv", t->rec_lv);
    file.WriteInt(section, "a_gain", t->a_gain);
    file.WriteInt(section, "out_vol", t->out_vol);
    file.WriteInt(section, "bst", t->bst);
    file.WriteInt(section, "pwr", t->pwr);
    file.WriteInt(section, "flt", t->flt);
    file.WriteString(section, "name", FieldText(t->name, sizeof t->name));
  }

  n = 0;
  for (const auto& t : formats) {
    const std::string section = Numbered("FileFmt", ++n);
    // "%d" of the 32-bit value: a value above 2^31 is written negative and
    // reads back to the same bits.
    file.WriteInt(section, "codecid", static_cast<int>(t->codecid));
    file.WriteInt(section, "samplerate", static_cast<int>(t->samplerate));
    file.WriteInt(section, "bitrate", static_cast<int>(t->bitrate));
    file.WriteInt(section, "channels", t->channels);
    file.WriteInt(section, "bits", t->bits);
    file.WriteString(section, "name", FieldText(t->name, sizeof t->name));
    file.WriteString(section, "filename", FieldText(t->filename, sizeof t->filename));
    file.WriteString(section, "extname", FieldText(t->extname, sizeof t->extname));
  }
}

}  // namespace lyr
