// lyrctl info: what the recorder reports about itself.
#include <cstdio>
#include <nlohmann/json.hpp>

#include "cli_support.h"
#include "platform/byte_order.h"
#include "recordings/recording_record.h"
#include "text_output.h"

namespace lyrctl {
namespace {

using lyr::GetU16;
using lyr::GetU32;
namespace p = lyr::protocol;

struct RecorderInfo {
  uint16_t firmware = 0;
  uint16_t hardware_mcu = 0;
  uint16_t clock[6] = {};
  uint64_t size_bytes = 0, free_bytes = 0, used_bytes = 0;
  uint32_t list_count = 0, list_capacity = 0;
  std::string file_type;
  uint32_t codec = 0, sample_rate = 0, bit_rate = 0;
  uint16_t channels = 0, bits = 0;
  std::string prefix;
  std::string text;
};

std::string FieldText(const uint8_t* field, size_t width) {
  return std::string(reinterpret_cast<const char*>(field),
                     strnlen(reinterpret_cast<const char*>(field), width));
}

std::string FirmwareText(uint16_t version) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "V%d.%03d", version / 1000, version % 1000);
  return buf;
}

// High byte: hardware version; low byte: MCU version as two decimal digits.
std::string HardwareText(uint16_t word) { return "V" + std::to_string(word >> 8); }
std::string McuText(uint16_t word) {
  const unsigned mcu = word & 0xFF;
  return "V" + std::to_string(mcu / 10) + "." + std::to_string(mcu % 10);
}

std::string ClockText(const uint16_t* c) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u:%02u", c[0], c[1], c[2], c[3], c[4], c[5]);
  return buf;
}

std::string FileTypeText(uint32_t codec, uint32_t rate, uint32_t bit_rate, uint16_t channels, uint16_t bits) {
  char buf[96];
  const char* mode = channels < 2 ? "mono" : "stereo";
  if (codec == lyr::protocol::kCodecLinearPcm)
    std::snprintf(buf, sizeof buf, "PCM %u Hz %u bit %s", rate, bits, mode);
  else if (codec == lyr::protocol::kCodecMpegLayer2)
    std::snprintf(buf, sizeof buf, "MPEG-1 Layer II %u Hz %u kbit/s %s", rate, bit_rate / 1000, mode);
  else
    std::snprintf(buf, sizeof buf, "codec 0x%X", codec);
  return buf;
}

std::string Megabytes(uint64_t bytes) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%llu MB", static_cast<unsigned long long>(bytes / 1048576));
  return buf;
}

lyr::Status RunInfo(const GlobalOptions& options) {
  // The connection sequence has read the settings, device record and memory
  // status into the model; only the recorder text is asked for here.
  LYR_TRY_ASSIGN(RecorderSession session, OpenRecorderSession(options));
  const lyr::RecorderModel& model = *session.model;
  const lyr::SettingsRecord& settings = model.Settings();
  const lyr::DeviceRecord& device = model.Device();
  const lyr::MemoryStatusRecord& memory = model.MemoryStatus();
  RecorderInfo info;
  info.firmware = model.FirmwareVersion();
  if (!session.link->GetRecorderText(info.text)) return Failure("Read data from LYR error!: recorder text");
  info.hardware_mcu = GetU16(&device[p::kDevHardwareMcu]);
  for (int i = 0; i < 6; ++i) info.clock[i] = GetU16(&device[p::kDevClock + 2 * i]);
  const uint64_t units = GetU32(&memory[p::kMemSizeUnits]);
  const uint64_t unit = GetU32(&memory[p::kMemUnitSize]);
  const uint64_t free_units = GetU32(&memory[p::kMemFreeUnits]);
  info.size_bytes = units * unit;
  info.free_bytes = free_units * unit;
  info.used_bytes = units > free_units ? (units - free_units) * unit : 0;
  info.list_count = GetU32(&memory[p::kMemListCount]);
  info.list_capacity = GetU32(&memory[p::kMemListCapacity]);
  const uint8_t* ff = settings.data() + 60;  // the file-format part of the settings record
  info.prefix = FieldText(ff + 32, 8);
  info.codec = GetU32(ff + 44);
  info.sample_rate = GetU32(ff + 48);
  info.bit_rate = GetU32(ff + 52);
  info.channels = GetU16(ff + 56);
  info.bits = GetU16(ff + 58);
  info.file_type = FileTypeText(info.codec, info.sample_rate, info.bit_rate, info.channels, info.bits);

  if (options.json) {
    nlohmann::json j = {{"device", LocalJsonText(session.device_path)},
                        {"firmware", FirmwareText(info.firmware)},
                        {"firmware_version", info.firmware},
                        {"hardware_version", HardwareText(info.hardware_mcu)},
                        {"mcu_version", McuText(info.hardware_mcu)},
                        {"clock", ClockText(info.clock)},
                        {"memory",
                         {{"size_bytes", info.size_bytes},
                          {"free_bytes", info.free_bytes},
                          {"used_bytes", info.used_bytes},
                          {"size", Megabytes(info.size_bytes)},
                          {"free", Megabytes(info.free_bytes)},
                          {"used", Megabytes(info.used_bytes)}}},
                        {"recordings", info.list_count},
                        {"recording_capacity", info.list_capacity},
                        {"file_type",
                         {{"text", info.file_type},
                          {"codec", info.codec},
                          {"sample_rate", info.sample_rate},
                          {"bit_rate", info.bit_rate},
                          {"channels", info.channels},
                          {"bits", info.bits},
                          {"file_name_prefix", DeviceJsonText(info.prefix)}}},
                        {"recorder_text", DeviceJsonText(info.text)}};
    PrintJson(j);
    return {};
  }
  std::printf("Device:          %s\n", LocalShownText(session.device_path).c_str());
  std::printf("Firmware:        %s\n", FirmwareText(info.firmware).c_str());
  std::printf("Hardware:        %s, MCU %s\n", HardwareText(info.hardware_mcu).c_str(),
              McuText(info.hardware_mcu).c_str());
  std::printf("Recorder clock:  %s\n", ClockText(info.clock).c_str());
  std::printf("Memory:          %s, free %s, used %s\n", Megabytes(info.size_bytes).c_str(),
              Megabytes(info.free_bytes).c_str(), Megabytes(info.used_bytes).c_str());
  std::printf("Recordings:      %u of %u\n", info.list_count, info.list_capacity);
  std::printf("File type:       %s, file name prefix \"%s\"\n", info.file_type.c_str(),
              DeviceShownText(info.prefix).c_str());
  std::printf("Recorder text:   %s\n", DeviceShownText(info.text).c_str());
  return {};
}

}  // namespace

CommandRun AddInfoCommand(CLI::App&) { return RunInfo; }

}  // namespace lyrctl
