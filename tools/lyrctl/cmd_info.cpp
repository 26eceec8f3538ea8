// lyrctl info: what the recorder reports about itself.
#include <cstdio>
#include <nlohmann/json.hpp>

#include "cli_support.h"
#include "link/link_commands.h"
#include "link/protocol.h"
#include "settings/clock_rules.h"
#include "settings/recorder_model.h"
#include "text_output.h"

namespace lyrctl {
namespace {

struct RecorderInfo {
  uint16_t firmware = 0;
  uint16_t hardware_mcu = 0;
  lyr::RecorderClock clock;
  uint64_t size_bytes = 0, free_bytes = 0, used_bytes = 0;
  uint32_t list_count = 0, list_capacity = 0;
  std::string file_type;
  uint32_t codec = 0, sample_rate = 0, bit_rate = 0;
  uint16_t channels = 0, bits = 0;
  std::string prefix;
  std::string extension;
  std::string text;
};

// High byte: hardware version; low byte: MCU version as two decimal digits.
std::string HardwareText(uint16_t word) { return "V" + std::to_string(word >> 8); }
std::string McuText(uint16_t word) {
  const unsigned mcu = word & 0xFF;
  return "V" + std::to_string(mcu / 10) + "." + std::to_string(mcu % 10);
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
  RecorderInfo info;
  lyr::Result<std::string> text = lyr::LinkCommands(*session.link).GetRecorderText();
  if (!text) return Failure("Read data from LYR error!: recorder text", text.error().code);
  info.text = std::move(text).value();
  info.firmware = model.FirmwareVersion();
  info.hardware_mcu = model.HardwareMcuVersion();
  info.clock = model.DeviceClock();
  const lyr::MemoryFigures memory = model.Memory();
  info.size_bytes = memory.SizeBytes();
  info.free_bytes = memory.FreeBytes();
  info.used_bytes = memory.UsedBytes();
  info.list_count = memory.list_count;
  info.list_capacity = memory.list_capacity;
  const lyr::FileFormatTemplate format = model.SettingsFileFormat();
  info.prefix = lyr::FieldText(format.filename, sizeof format.filename);
  info.extension = lyr::FieldText(format.extname, sizeof format.extname);
  info.codec = format.codecid;
  info.sample_rate = format.samplerate;
  info.bit_rate = format.bitrate;
  info.channels = format.channels;
  info.bits = format.bits;
  info.file_type = FileTypeText(info.codec, info.sample_rate, info.bit_rate, info.channels, info.bits);

  if (options.json) {
    nlohmann::json j = {{"device", LocalJsonText(session.device_path)},
                        {"firmware", FirmwareText(info.firmware)},
                        {"firmware_version", info.firmware},
                        {"hardware_version", HardwareText(info.hardware_mcu)},
                        {"mcu_version", McuText(info.hardware_mcu)},
                        {"clock", lyr::ClockText(info.clock)},
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
                          {"file_name_prefix", DeviceJsonText(info.prefix)},
                          {"file_extension", DeviceJsonText(info.extension)}}},
                        {"recorder_text", DeviceJsonText(info.text)}};
    PrintJson(j);
    return {};
  }
  std::printf("Device:          %s\n", LocalShownText(session.device_path).c_str());
  std::printf("Firmware:        %s\n", FirmwareText(info.firmware).c_str());
  std::printf("Hardware:        %s, MCU %s\n", HardwareText(info.hardware_mcu).c_str(),
              McuText(info.hardware_mcu).c_str());
  std::printf("Recorder clock:  %s\n", lyr::ClockText(info.clock).c_str());
  std::printf("Memory:          %s, free %s, used %s\n", Megabytes(info.size_bytes).c_str(),
              Megabytes(info.free_bytes).c_str(), Megabytes(info.used_bytes).c_str());
  std::printf("Recordings:      %u of %u\n", info.list_count, info.list_capacity);
  std::printf("File type:       %s, file name prefix \"%s\"\n", info.file_type.c_str(),
              DeviceShownText(info.prefix).c_str());
  std::printf("Recorder text:   %s\n", DeviceShownText(info.text).c_str());
  return {};
}

}  // namespace

CommandRun AddInfoCommand(CLI::App& cmd) {
  cmd.footer("Example: lyrctl --device /dev/sdb info");
  return RunInfo;
}

}  // namespace lyrctl
