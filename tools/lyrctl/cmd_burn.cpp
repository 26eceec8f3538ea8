// lyrctl burn-audio and burn-data: the audio CD and data disc jobs behind a
// terminal, with the disc check before them; burn-data --image writes the
// same disc as an ISO 9660 image file with no writer at all.
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>

#include "burn/burn_jobs.h"
#include "burn/disc_check.h"
#include "burn/tools_burn_runner.h"
#include "cli_support.h"
#include "recording_selection.h"
#include "terminal_window.h"
#include "text_output.h"
#include "transfer/temporary_files.h"
#include "transfer/transfer_jobs.h"

namespace lyrctl {
namespace {

struct BurnArgs {
  std::string drive;
  std::string label;
  std::string image;
  std::string temp;
  lyr::ExportFormat mpeg_format = lyr::ExportFormat::Bwf;
  lyr::ExportFormat pcm_format = lyr::ExportFormat::Bwf;
  bool sha1 = false;
  bool yes = false;
  bool no = false;
  bool quiet = false;
  lyr::burn::CdConverter converter = lyr::burn::CdConverter::Soxr;
  std::vector<std::string> recordings;
};

// The "Burning" window on the terminal: the job's status and bar on the
// terminal window, its log lines on stderr.
class TerminalBurnWindow final : public lyr::burn::BurnReporter {
 public:
  TerminalBurnWindow(lyr::JobReporter& window, bool quiet) : window_(window), quiet_(quiet) {}
  // A status or a bar value the window already shows is not sent again.
  void SetStatus(const std::string& text) override {
    if (text == status_) return;
    status_ = text;
    window_.SetStatus(text);
  }
  void SetProgress(int percent) override {
    if (percent == percent_) return;
    percent_ = percent;
    window_.SetProgress(percent);
  }
  void Message(const std::string& text, const std::string& caption, lyr::MessageIcon icon) override {
    window_.Message(text, caption, icon);
  }
  bool CancelRequested() const override { return window_.CancelRequested(); }
  void ClearLog() override {}
  // A log entry of several lines (a writer's error) is shown a line at a time.
  void AppendLog(const std::string& text) override {
    if (quiet_) return;
    size_t at = 0;
    while (at < text.size()) {
      size_t nl = text.find('\n', at);
      if (nl == std::string::npos) nl = text.size();
      std::string line = text.substr(at, nl - at);
      at = nl + 1;
      while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
      for (char& c : line)
        if (c == '\r') c = ' ';
      if (!line.empty()) SetStatus(line);
    }
  }
  void Finished(int result) override { result_ = result; }
  int result() const { return result_; }

 private:
  lyr::JobReporter& window_;
  const bool quiet_;
  std::string status_;
  int percent_ = -1;
  int result_ = -1;
};

Answer AnswerOf(const BurnArgs& args) {
  return args.yes ? Answer::Yes : args.no ? Answer::No : Answer::AskTerminal;
}

// A failure, with what the tool said about it when it said something.
lyr::Error ToolFailure(const std::string& what, const std::string& said) {
  return Failure(said.empty() ? what : what + ": " + LocalShownText(said));
}

// A private folder for the job's temporary files, removed with them.
lyr::Result<lyr::TemporaryFolder> MakeJobFolder(const std::string& parent) {
  std::string base = parent;
  if (base.empty()) {
    const char* tmp = std::getenv("TMPDIR");
    base = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
  }
  return lyr::TemporaryFolder::Make(base, "lyr-burn-");
}

// The writer to use: --drive, else the first writer the scan finds.
lyr::Result<uint32_t> ChooseDrive(lyr::burn::BurnerTools& tools, const std::string& drive) {
  if (tools.Writer() == lyr::burn::WriterKind::kNone)
    return Failure("no disc writer found (cdrecord, cdrskin or wodim; LYR_CDRECORD names another)");
  lyr::burn::BurnerDrives drives(tools);
  if (!drives.ScanBurnerDrives()) return ToolFailure("the drive scan failed", tools.LastToolError());
  if (!drive.empty()) {
    const uint32_t device = lyr::burn::ParseDeviceAddress(drive);
    if (device == lyr::burn::kNoDevice) return UsageError("--drive takes BUS,TARGET,LUN, not " + drive);
    return device;
  }
  const auto writers = drives.Writers();
  return writers.empty() ? lyr::burn::kNoDevice : writers.front().device;
}

// Runs a burn job behind the terminal; the job's own texts say how it went.
lyr::Status RunBurn(const GlobalOptions& options, const BurnArgs& args, uint64_t total,
                    const std::function<lyr::burn::BurnJobResult(lyr::burn::BurnReporter&)>& job,
                    const char* what) {
  TerminalWindow window(AnswerOf(args), total, args.quiet || options.json);
  lyr::burn::BurnJobResult ended;
  const int result = RunJobOnTerminal(window, [&](lyr::JobReporter& reporter) {
    TerminalBurnWindow burn(reporter, args.quiet || options.json);
    ended = job(burn);
    return ended.burned;
  });
  nlohmann::json shortened = nlohmann::json::array();
  for (const auto& s : ended.shortened) {
    if (!options.json)
      std::fprintf(stderr, "disc name shortened: %s -> %s\n", LocalShownText(s.from).c_str(),
                   LocalShownText(s.to).c_str());
    shortened.push_back({{"from", LocalJsonText(s.from)}, {"to", LocalJsonText(s.to)}});
  }
  if (options.json) PrintJson({{"burned", ended.burned}, {"shortened", shortened}});
  if (result == lyr::kJobCancelled) return Cancelled(std::string(what) + " cancelled");
  if (!ended.burned) return ToolFailure(std::string(what) + " failed", ended.errors);
  return {};
}

// The check before a burn, cancelled by Ctrl+C or SIGTERM like the burn
// itself: the writer it runs (blanking a disc, say) never outlives lyrctl.
lyr::Result<uint32_t> CheckDiscOnTerminal(const GlobalOptions& options, const BurnArgs& args,
                                          lyr::burn::BurnerTools& tools, uint32_t device, uint64_t required,
                                          bool cd_only, const std::string& temp) {
  TerminalWindow checker(AnswerOf(args), 0, args.quiet || options.json);
  lyr::Result<uint32_t> kind = Failure("the disc check failed");
  const int result = RunJobOnTerminal(checker, [&](lyr::JobReporter& reporter) {
    kind = lyr::burn::CheckDisc(tools, device, required, cd_only, temp, reporter);
    return static_cast<bool>(kind);
  });
  if (result == lyr::kJobCancelled) return Cancelled("the disc check cancelled");
  if (!kind) return ToolFailure("the disc check failed", tools.LastToolError());
  return kind;
}

lyr::Status RunBurnAudio(const GlobalOptions& options, const BurnArgs& args) {
  if (args.recordings.empty()) return UsageError("name the recordings to burn");
  LYR_TRY_ASSIGN(RecorderSession session, OpenRecorderSession(options));
  lyr::RecordingCatalogue catalogue(*session.link);
  LYR_TRY(LoadWholeCatalogue(catalogue));
  // One track per argument, in the order given; a recording may repeat.
  std::vector<const lyr::RecordingRow*> rows;
  for (const auto& w : args.recordings) {
    LYR_TRY_ASSIGN(const auto one, SelectRecordings(catalogue, false, {w}));
    rows.insert(rows.end(), one.begin(), one.end());
  }
  LYR_TRY_ASSIGN(lyr::TemporaryFolder temp, MakeJobFolder(args.temp));

  lyr::burn::BurnerTools tools;
  tools.InitBurnerTools();
  tools.SetBurnTempFolder(temp.path());
  LYR_TRY_ASSIGN(const uint32_t device, ChooseDrive(tools, args.drive));

  lyr::burn::AudioCdJob job;
  job.temp_folder = temp.path();
  job.device = device;
  job.converter = args.converter;
  uint64_t seconds = 0, total = 0;
  for (const auto* row : rows) {
    lyr::burn::BURN_FILE f;
    f.entry = row->entry;
    f.size = row->record.DataSize();
    f.duration = lyr::RecordingDurationSeconds(row->record);
    seconds += f.duration;
    total += f.size;
    job.items.push_back(f);
  }
  LYR_TRY(CheckDiscOnTerminal(options, args, tools, device, seconds * 176400, true, temp.path()));
  lyr::burn::ToolsBurnRunner runner(tools);
  return RunBurn(
      options, args, total,
      [&](lyr::burn::BurnReporter& w) { return lyr::burn::RunAudioCdJob(*session.link, runner, job, w); },
      "the audio CD burn");
}

// Strips one extension: the job gives every file its own.
std::string WithoutExtension(const std::string& name) {
  const size_t dot = name.rfind('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

// Puts each recording into the tree at its disc path (folders made as
// needed); the default place is the root, under the recording's name.
lyr::Status LayOut(const std::vector<const lyr::RecordingRow*>& rows, const std::vector<std::string>& places,
                   lyr::burn::CBurnTree& tree) {
  lyr::burn::BurnLayout layout(tree);
  for (size_t i = 0; i < rows.size(); ++i) {
    std::string folder = "/", name;
    if (places[i].empty()) {
      name = WithoutExtension(lyr::SafeRecordingFileName(rows[i]->record.Name()));
      for (char& c : name)
        if (!lyr::burn::IsValidBurnName(std::string(1, c))) c = '_';
    } else {
      std::string path = places[i];
      const size_t slash = path.rfind('/');
      name = WithoutExtension(slash == std::string::npos ? path : path.substr(slash + 1));
      if (slash != std::string::npos) {
        (void)layout.SetCurrentFolder("/");
        size_t at = 0;
        const std::string dirs = path.substr(0, slash);
        while (at <= dirs.size()) {
          size_t end = dirs.find('/', at);
          if (end == std::string::npos) end = dirs.size();
          const std::string part = dirs.substr(at, end - at);
          at = end + 1;
          if (part.empty()) continue;
          if (!lyr::burn::IsValidBurnName(part))
            return UsageError("The name can't have one of the chars \\ / : * ? \" < > | (" + part + ")");
          if (tree.FindFolder(part) == nullptr && !layout.CreateFolder(part))
            return UsageError("cannot make the disc folder " + part);
          (void)layout.SetCurrentFolder(part);
        }
        folder = lyr::burn::CBurnTree::GetFolderPath(&tree.CurrentFolder());
      }
    }
    if (name.empty() || !lyr::burn::IsValidBurnName(name))
      return UsageError("The name can't have one of the chars \\ / : * ? \" < > | (" + name + ")");
    lyr::burn::BURN_FILE f;
    f.entry = rows[i]->entry;
    f.size = rows[i]->record.DataSize();
    f.duration = lyr::RecordingDurationSeconds(rows[i]->record);
    f.name = name;
    if (!layout.AddFile(folder, f))
      return UsageError("recording " + std::to_string(f.entry) + " is placed twice in " + folder);
  }
  (void)layout.SetCurrentFolder("/");
  return {};
}

// An image file of that name is replaced only at the user's word, asked
// before anything is downloaded.
lyr::Status MayWriteImage(const GlobalOptions& options, const BurnArgs& args) {
  std::error_code error;
  if (!std::filesystem::exists(args.image, error)) return {};
  if (std::filesystem::is_directory(args.image, error))
    return UsageError("--image names a folder: " + LocalShownText(args.image));
  TerminalWindow window(AnswerOf(args), 0, args.quiet || options.json);
  if (window.Ask(LocalShownText(args.image) + ": Would you like to replace the existing file with this one?",
                 "Confirm File Replace"))
    return {};
  if (window.default_answers() > 0)
    return Failure("not written: " + LocalShownText(args.image) +
                   " exists (no terminal to ask; use --yes or --no)");
  return Failure("not written: " + LocalShownText(args.image) + " exists");
}

lyr::Status RunBurnData(const GlobalOptions& options, const BurnArgs& args) {
  if (args.recordings.empty()) return UsageError("name the recordings to burn");
  if (args.label.size() > lyr::burn::kMaxVolumeLabel)
    return UsageError("--label takes at most " + std::to_string(lyr::burn::kMaxVolumeLabel) + " bytes, not " +
                      std::to_string(args.label.size()));
  if (!args.image.empty()) LYR_TRY(MayWriteImage(options, args));
  // RECORDING=DISC/PATH: the recording, and where it goes on the disc.
  std::vector<std::string> wanted, places;
  for (const auto& a : args.recordings) {
    const size_t eq = a.find('=');
    wanted.push_back(a.substr(0, eq));
    places.push_back(eq == std::string::npos ? "" : a.substr(eq + 1));
  }
  LYR_TRY_ASSIGN(RecorderSession session, OpenRecorderSession(options));
  lyr::RecordingCatalogue catalogue(*session.link);
  LYR_TRY(LoadWholeCatalogue(catalogue));
  std::vector<const lyr::RecordingRow*> rows;
  for (const auto& w : wanted) {
    LYR_TRY_ASSIGN(const auto one, SelectRecordings(catalogue, false, {w}));
    rows.push_back(one.front());
  }
  lyr::burn::CBurnTree tree;
  LYR_TRY(LayOut(rows, places, tree));
  LYR_TRY_ASSIGN(lyr::TemporaryFolder temp, MakeJobFolder(args.temp));

  lyr::burn::BurnerTools tools;
  tools.InitBurnerTools();
  tools.SetBurnTempFolder(temp.path());
  lyr::burn::DataDiscJob job;
  job.temp_folder = temp.path();
  job.volume_label = args.label;
  job.mpeg_format = args.mpeg_format;
  job.pcm_format = args.pcm_format;
  job.output_sha1 = args.sha1;
  job.device_id = RecorderDeviceId(session.device_path);
  tree.CollectFiles(&job.files);
  if (!args.image.empty()) {
    if (tools.ImageMakerPath().empty())
      return Failure("no image maker found (mkisofs, genisoimage or xorrisofs; LYR_MKISOFS names another)");
    job.image_path = std::filesystem::absolute(args.image).string();
  } else {
    LYR_TRY_ASSIGN(job.device, ChooseDrive(tools, args.drive));
    const uint64_t required = static_cast<uint64_t>(tree.GetFileCount()) * 1024 + tree.GetTotalSize();
    LYR_TRY_ASSIGN(job.disc_kind,
                   CheckDiscOnTerminal(options, args, tools, job.device, required, false, temp.path()));
  }
  lyr::burn::ToolsBurnRunner runner(tools);
  return RunBurn(
      options, args, tree.GetTotalSize(),
      [&](lyr::burn::BurnReporter& w) { return lyr::burn::RunDataDiscJob(*session.link, runner, job, w); },
      args.image.empty() ? "the data disc burn" : "the disc image");
}

void CommonOptions(CLI::App& cmd, BurnArgs& args) {
  cmd.add_option("--drive", args.drive, "The writer as BUS,TARGET,LUN (default: the first writer found)");
  cmd.add_option("--temp", args.temp, "Folder for the temporary files (default: $TMPDIR or /tmp)");
  CLI::Option* yes =
      cmd.add_flag("--yes", args.yes, "Answer Yes to the questions (erasing a rewritable disc)");
  cmd.add_flag("--no", args.no, "Answer No to the questions")->excludes(yes);
  cmd.add_flag("--quiet", args.quiet, "Print only errors");
}

}  // namespace

CommandRun AddBurnAudioCommand(CLI::App& cmd) {
  auto args = std::make_shared<BurnArgs>();
  CommonOptions(cmd, *args);
  static const std::map<std::string, lyr::burn::CdConverter> kConverters = {
      {"soxr", lyr::burn::CdConverter::Soxr}, {"sinc", lyr::burn::CdConverter::WindowedSinc}};
  cmd.add_option("--converter", args->converter,
                 "Sample-rate converter for rates other than 44,100 Hz (default: soxr; sinc: the short "
                 "windowed sinc)")
      ->type_name("soxr|sinc")
      ->transform(CLI::Transformer(kConverters).description(""))
      ->transform(CLI::IsMember(kConverters, CLI::ignore_case).description(""));
  cmd.add_option("RECORDING", args->recordings, "The recordings, one track each (entry:N, name:TEXT)");
  cmd.footer("Example: lyrctl burn-audio --yes LYR0004 LYR0001");
  return [args](const GlobalOptions& options) { return RunBurnAudio(options, *args); };
}

CommandRun AddBurnDataCommand(CLI::App& cmd) {
  auto args = std::make_shared<BurnArgs>();
  CommonOptions(cmd, *args);
  cmd.add_option("--label", args->label, "Volume label (default: CD)");
  cmd.add_option("--image", args->image, "Write an ISO 9660 image file instead of a disc");
  ExportFormatOption(cmd, "--mpeg-format", args->mpeg_format, true,
                     "Format of MPEG recordings (default: bwf)");
  ExportFormatOption(cmd, "--pcm-format", args->pcm_format, false, "Format of PCM recordings (default: bwf)");
  cmd.add_flag("--sha1", args->sha1, "Put a SHA-1 digest file (.txt) beside each file");
  cmd.add_option(
      "RECORDING", args->recordings,
      "The recordings (entry:N, name:TEXT), each optionally =DISC/PATH (default: the root, its name)");
  cmd.footer("Example: lyrctl burn-data --label TALKS --image talks.iso LYR0001 LYR0002=day2/LYR0002.wav");
  return [args](const GlobalOptions& options) { return RunBurnData(options, *args); };
}

}  // namespace lyrctl
