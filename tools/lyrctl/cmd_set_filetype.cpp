// lyrctl set-filetype: changes the recorder's recording format with the FILE
// TYPE page's rules, and reads the settings back.
#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>

#include "cli_support.h"
#include "link/link_commands.h"
#include "link/protocol.h"
#include "settings/file_type_rules.h"
#include "text_output.h"

namespace lyrctl {
namespace {

bool SameFileType(const lyr::FileFormatTemplate& a, const lyr::FileFormatTemplate& b) {
  uint8_t x[lyr::FileFormatTemplate::kSize], y[lyr::FileFormatTemplate::kSize];
  a.ToBytes(x);
  b.ToBytes(y);
  return std::equal(std::begin(x), std::end(x), std::begin(y));
}

lyr::Status RunSetFileType(const GlobalOptions& options, const lyr::FileTypeRequest& request) {
  // What the page refuses whatever the recorder holds is refused before the
  // recorder is opened.
  lyr::FileFormatTemplate usable;
  usable.channels = 2;
  if (auto checked = lyr::ApplyFileTypeRequest(usable, request); !checked)
    return UsageError(checked.error().context);

  LYR_TRY_ASSIGN(RecorderSession session, OpenRecorderSession(options));
  lyr::RecorderModel& model = *session.model;
  auto next = lyr::ApplyFileTypeRequest(model.SettingsFileFormat(), request);
  if (!next) return UsageError(next.error().context);
  model.SetSettingsFileFormat(next.value());
  if (const lyr::Status committed = lyr::Commit(model, *session.link); !committed)
    return Failure("Access LYR Failed!: the recorder did not take the settings", committed.error().code);
  const lyr::Result<lyr::SettingsRecord> read = lyr::LinkCommands(*session.link).ReadSettings();
  if (!read) return Failure("Read data from LYR error!: settings", read.error().code);
  const lyr::SettingsRecord& stored = read.value();
  const lyr::FileFormatTemplate kept = lyr::FileFormatTemplate::FromBytes(stored.data() + 60);
  if (!SameFileType(kept, next.value())) return Failure("the recorder did not keep the file type sent");
  const char* type = kept.codecid == lyr::protocol::kCodecLinearPcm ? "WAV-PCM16" : "MPEG1-Layer2";
  if (options.json)
    PrintJson({{"type", type},
               {"codec", kept.codecid},
               {"sample_rate", kept.samplerate},
               {"bit_rate", kept.bitrate},
               {"channels", kept.channels},
               {"bits", kept.bits},
               {"file_name_prefix", DeviceJsonText(lyr::FieldText(kept.filename, sizeof kept.filename))}});
  else
    std::printf("File type set: %s, %u Hz, %u bit/s, %s\n", type, kept.samplerate, kept.bitrate,
                kept.channels == 1 ? "MONO" : "STEREO");
  return {};
}

}  // namespace

CommandRun AddSetFileTypeCommand(CLI::App& cmd) {
  auto args = std::make_shared<lyr::FileTypeRequest>();
  const std::map<std::string, uint32_t> codecs = {{"pcm", lyr::protocol::kCodecLinearPcm},
                                                  {"mpeg", lyr::protocol::kCodecMpegLayer2}};
  cmd.add_option("--codec", args->codec, "WAV-PCM16 or MPEG1-Layer2")
      ->required()
      ->type_name("pcm|mpeg")
      ->transform(CLI::Transformer(codecs).description(""))
      ->transform(CLI::IsMember(codecs, CLI::ignore_case).description(""));
  cmd.add_option("--rate", args->sample_rate, "Sampling frequency: 32000, 44100 or 48000")->required();
  cmd.add_option("--bitrate", args->bit_rate,
                 "MPEG bit rate in bit/s, 32000 to 384000 (default 128000); PCM's follows from the rest");
  cmd.add_option("--bits", args->bits, "Bits per sample (PCM: 16)");
  cmd.add_option("--channels", args->channels, "2 (STEREO) or 1 (MONO); default: as it is");
  cmd.add_option("--prefix", args->file_name_prefix, "File name prefix, at most 4 characters")
      ->transform(Latin1Text());
  cmd.footer("Example: lyrctl set-filetype --codec mpeg --rate 48000 --bitrate 192000 --channels 2");
  return [args](const GlobalOptions& options) { return RunSetFileType(options, *args); };
}

}  // namespace lyrctl
