// lyrctl ingest: archives every recording not yet marked copied into a
// folder, with a SHA-1 manifest, and optionally deletes from the recorder
// what a second read proved identical. With --watch it waits for recorders
// and ingests each one as it is plugged in.
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "cli_support.h"
#include "link/link_commands.h"
#include "link/recorder_watcher.h"
#include "recording_selection.h"
#include "terminal_window.h"
#include "text_output.h"
#include "transfer/partial_file.h"
#include "transfer/recording_export.h"
#include "transfer/sha1.h"
#include "transfer/temporary_files.h"
#include "transfer/transfer_jobs.h"

namespace lyrctl {
namespace {

namespace fs = std::filesystem;

constexpr const char* kManifestName = "manifest.sha1";

struct IngestArgs {
  std::string folder;
  bool sha1 = false;
  bool watch = false;
  bool delete_after_verify = false;
  bool quiet = false;
};

// What happened to one recording.
struct Ingested {
  uint32_t entry = 0;
  std::string name;
  std::string file;
  std::string digest;
  bool copied = false;
  bool verified = false;
  bool deleted = false;
  std::string problem;  // empty when everything asked for was done
};

// One line of `sha1sum -c` input, the name relative to the manifest. A name
// with a backslash is escaped the way sha1sum writes it.
std::string ManifestLine(const std::string& digest, const std::string& file_name) {
  if (file_name.find('\\') == std::string::npos) return digest + "  " + file_name + "\n";
  std::string escaped;
  for (char c : file_name) escaped += c == '\\' ? "\\\\" : std::string(1, c);
  return "\\" + digest + "  " + escaped + "\n";
}

// The manifest before a line is added: a last line cut short (a crash, a
// full disk) would take the new line onto its own, so it goes, and the user
// is told.
lyr::Status RepairManifest(const std::string& folder) {
  const std::string path = lyr::WithTrailingSeparator(folder) + kManifestName;
  LYR_TRY_ASSIGN(const uint64_t cut, lyr::TrimTornLine(path));
  if (cut != 0)
    std::fprintf(stderr,
                 "lyrctl: %s: removed a cut last line (%llu bytes); check the archive with sha1sum -c\n",
                 LocalShownText(path).c_str(), static_cast<unsigned long long>(cut));
  return {};
}

// A private folder inside the archive (same file system, so that its files
// can be moved into place), removed with what is left in it.
lyr::Result<lyr::TemporaryFolder> MakeScratchFolder(const std::string& archive) {
  return lyr::TemporaryFolder::Make(archive, ".lyr-ingest-");
}

// What a job sees of the window when it works unseen: only the cancel.
class CancelOnly final : public lyr::JobReporter {
 public:
  explicit CancelOnly(const lyr::JobReporter& window) : window_(window) {}
  void SetStatus(const std::string&) override {}
  void SetProgress(int) override {}
  void SetFileProgress(int) override {}
  bool Ask(const std::string&, const std::string&) override { return false; }
  void Message(const std::string&, const std::string&, lyr::MessageIcon) override {}
  bool CancelRequested() const override { return window_.CancelRequested(); }

 private:
  const lyr::JobReporter& window_;
};

// Reads the recording from the recorder a second time, into a private
// folder in the archive, and returns the digest of that second copy.
lyr::Result<std::string> SecondReadDigest(lyr::RecorderLink& link, uint32_t entry, lyr::CopyOptions options,
                                          const lyr::JobReporter& window) {
  LYR_TRY_ASSIGN(const lyr::TemporaryFolder scratch, MakeScratchFolder(options.folder));
  // The link keeps the last piece it read: the second read must come from the recorder.
  link.ClearReadCache();
  options.folder = lyr::WithTrailingSeparator(scratch.path());
  options.output_sha1 = true;
  lyr::RecordingRecord record;
  if (!link.GetRecordingInfo(entry, record.bytes()))
    return lyr::Error::Code(lyr::kErrorIoDevice, "second read: the record could not be read");
  lyr::ExportRequest request;
  request.entry = entry;
  request.paths = lyr::ExportPathsFor(options.folder, record, options);
  request.header_name = request.paths.file_name;
  CancelOnly reporter(window);
  const lyr::CopyResult r = lyr::ExportRecording(link, record, options, request, reporter);
  if (r.outcome != lyr::CopyOutcome::Copied || !r.digest_written) {
    const char* shown = lyr::CopyOutcomeMessage(r.outcome);
    std::string why = shown != nullptr ? shown : "the second read did not complete";
    if (r.error) why += " " + r.error->Message();
    if (r.digest_error) why += " " + r.digest_error->Message();
    return lyr::Error::Code(lyr::kErrorIoDevice, "second read: " + why);
  }
  return r.digest;
}

// Gives a finished copy (and its digest file) its name in the archive,
// durably: the copy's own name, else the first free "STEM_2", "STEM_3", ...
// An existing file is never replaced: names repeat across recorders and after
// a counter reset. Returns the copy's path in the archive.
lyr::Result<std::string> PlaceInArchive(const lyr::CopyResult& r, const std::string& archive,
                                        bool with_digest) {
  LYR_TRY(lyr::SyncToDisk(r.paths.target));
  if (with_digest) LYR_TRY(lyr::SyncToDisk(r.paths.digest));
  const std::string& name = r.paths.file_name;
  const size_t dot = name.rfind('.');
  const std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
  const std::string ext = dot == std::string::npos ? "" : name.substr(dot);
  const std::string folder = lyr::WithTrailingSeparator(archive);
  for (int n = 1; n < 100000; ++n) {
    const std::string base = n == 1 ? stem : stem + "_" + std::to_string(n);
    const std::string target = folder + base + ext;
    if (const lyr::Status moved = lyr::MoveNoReplace(r.paths.target, target); !moved) {
      if (moved.error().os_error == EEXIST) continue;
      return moved.error();
    }
    if (with_digest) {
      if (const lyr::Status moved = lyr::MoveNoReplace(r.paths.digest, folder + base + ".txt"); !moved) {
        // The pair keeps one stem: the copy goes back to try the next one.
        LYR_TRY(lyr::MoveNoReplace(target, r.paths.target));
        if (moved.error().os_error == EEXIST) continue;
        return moved.error();
      }
    }
    LYR_TRY(lyr::SyncToDisk(folder));
    return target;
  }
  return lyr::Error::Code(lyr::kErrorAlreadyExists, folder + stem + ext + ": no free name");
}

// Copies one recording into the archive, gives it its manifest line, marks
// it copied, and with --delete-after-verify deletes it once a second read
// matches, each step only once the one before it is on the disk. Runs as the
// terminal's job: a cancel stops it where nothing is lost. False when
// something asked for was not done.
bool IngestSteps(lyr::RecorderLink& link, uint32_t entry, const lyr::CopyOptions& copy,
                 const IngestArgs& args, lyr::JobReporter& window, Ingested& out) {
  lyr::GatedReporter ui(window);
  auto scratch = MakeScratchFolder(args.folder);
  if (!scratch) {
    out.problem = "not copied: " + scratch.error().Message();
    return false;
  }
  lyr::CopyOptions in_scratch = copy;
  in_scratch.folder = lyr::WithTrailingSeparator(scratch.value().path());
  lyr::RecordingRecord record;
  if (!link.GetRecordingInfo(entry, record.bytes())) {
    out.problem = "not copied: the record could not be read";
    return false;
  }
  ui.SetStatus("Copying... " + record.Name());
  lyr::ExportRequest request;
  request.entry = entry;
  request.paths = lyr::ExportPathsFor(in_scratch.folder, record, in_scratch);
  request.header_name = request.paths.file_name;
  const lyr::CopyResult r = lyr::ExportRecording(link, record, in_scratch, request, ui);
  if (r.outcome != lyr::CopyOutcome::Copied || (copy.output_sha1 && !r.digest_written)) {
    const char* shown = lyr::CopyOutcomeMessage(r.outcome);
    out.problem = shown != nullptr ? shown : (ui.CancelRequested() ? "cancelled" : "not copied");
    if (r.error) out.problem += " " + r.error->Message();
    if (r.digest_error) out.problem += " digest file not written: " + r.digest_error->Message();
    return false;
  }
  if (r.digest_written) {
    out.digest = r.digest;
  } else {
    auto digest = lyr::DigestFileText(ui, r.paths.target, 0, 1);
    if (!digest) {
      out.problem = ui.CancelRequested() ? "cancelled" : "not copied: no digest: " + digest.error().Message();
      return false;
    }
    out.digest = digest.value();
  }
  const auto placed = PlaceInArchive(r, args.folder, copy.output_sha1);
  if (!placed) {
    out.problem = "not copied: " + placed.error().Message();
    return false;
  }
  out.copied = true;
  out.file = placed.value();
  const std::string file_name = fs::path(out.file).filename().string();
  if (const lyr::Status appended = lyr::AppendWhole(lyr::WithTrailingSeparator(args.folder) + kManifestName,
                                                    ManifestLine(out.digest, file_name));
      !appended) {
    out.problem = "copied, but the manifest was not written: " + appended.error().Message();
    return false;
  }
  // Marked only now: a recording marked copied is never offered again.
  if (!link.MarkRecordingCopied(entry)) {
    out.problem = "copied, but the recorder did not take the copied mark";
    return false;
  }
  if (!args.delete_after_verify || ui.CancelRequested()) return true;

  const auto second = SecondReadDigest(link, entry, copy, window);
  if (ui.CancelRequested()) return true;  // not verified, not deleted
  if (!second) {
    out.problem = "not deleted: " + second.error().context;
    return false;
  }
  if (second.value() != out.digest) {
    out.problem = "not deleted: the second read gave SHA-1 " + second.value() + ", the file " + out.digest;
    return false;
  }
  out.verified = true;
  lyr::JobQueue doomed;
  doomed.entries.push_back(entry);
  lyr::SilentReporter silent;
  lyr::DeleteJob(link, doomed, silent);
  // Deleted only when the recorder's list, read again, no longer holds it.
  const std::vector<uint32_t> entries{entry};
  auto listed = lyr::EntriesStillListed(link, entries);
  if (!listed) {
    out.problem = "verified, delete not confirmed: " + listed.error().Message();
    return false;
  }
  out.deleted = listed.value().empty();
  if (!out.deleted) out.problem = "verified, but the recorder did not delete it";
  return out.deleted;
}

Ingested IngestOne(lyr::RecorderLink& link, const lyr::RecordingRow& row, const lyr::CopyOptions& copy,
                   const IngestArgs& args, bool quiet, bool* cancelled) {
  Ingested out;
  out.entry = row.entry;
  out.name = row.name;
  TerminalWindow window(Answer::No, row.record.DataSize(), quiet);
  window.SetStatus(lyr::kJobTitle);
  const int result = RunJobOnTerminal(window, [&](lyr::JobReporter& reporter) {
    return IngestSteps(link, row.entry, copy, args, reporter, out);
  });
  if (result == lyr::kJobCancelled) *cancelled = true;
  return out;
}

// SIGINT or SIGTERM outside a job: the run stops before the next recording.
// While a job runs, the terminal's runner takes them as its cancel.
volatile sig_atomic_t g_stop = 0;
void OnStop(int) { g_stop = 1; }

class StopSignals {
 public:
  StopSignals() {
    struct sigaction action {};
    action.sa_handler = OnStop;
    sigemptyset(&action.sa_mask);
    g_stop = 0;
    sigaction(SIGINT, &action, &old_int_);
    sigaction(SIGTERM, &action, &old_term_);
  }
  ~StopSignals() {
    sigaction(SIGINT, &old_int_, nullptr);
    sigaction(SIGTERM, &old_term_, nullptr);
  }
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

 private:
  struct sigaction old_int_ {};
  struct sigaction old_term_ {};
};

// Ingests every recording of an open recorder not yet marked copied. False
// when something was not ingested (or deleted when asked).
bool IngestRecorder(lyr::RecorderLink& link, const std::string& device_id, const GlobalOptions& options,
                    const IngestArgs& args, nlohmann::json& report, bool* cancelled) {
  lyr::RecordingCatalogue catalogue(link);
  if (const lyr::Status loaded = LoadWholeCatalogue(catalogue); !loaded) {
    std::fprintf(stderr, "lyrctl: %s\n", FailureText(loaded.error()).c_str());
    return false;
  }
  if (const lyr::Status repaired = RepairManifest(args.folder); !repaired) {
    std::fprintf(stderr, "lyrctl: %s\n", LocalShownText(repaired.error().Message()).c_str());
    return false;
  }
  lyr::CopyOptions copy;
  copy.folder = lyr::WithTrailingSeparator(args.folder);
  copy.output_sha1 = args.sha1;
  copy.device_id = device_id;
  // Nothing but JSON on stdout, and no progress lines beside it.
  const bool quiet = args.quiet || options.json;
  bool complete = true;
  size_t ingested = 0, deleted = 0, skipped = 0;
  for (size_t i = 0; i < catalogue.RowCount() && !*cancelled; ++i) {
    if (g_stop) {
      *cancelled = true;
      break;
    }
    const lyr::RecordingRow& row = catalogue.Row(i);
    if (row.copied) {
      ++skipped;
      continue;
    }
    const Ingested one = IngestOne(link, row, copy, args, quiet, cancelled);
    ingested += one.copied;
    deleted += one.deleted;
    if (!one.problem.empty()) {
      complete = false;
      std::fprintf(stderr, "%s: %s\n", DeviceShownText(one.name).c_str(),
                   LocalShownText(one.problem).c_str());
    }
    if (options.json)
      report.push_back(
          {{"entry", one.entry},
           {"name", DeviceJsonText(one.name)},
           {"file", one.copied ? nlohmann::json(LocalJsonText(one.file)) : nlohmann::json(nullptr)},
           {"sha1", one.copied ? nlohmann::json(one.digest) : nlohmann::json(nullptr)},
           {"verified", one.verified},
           {"deleted", one.deleted},
           {"error",
            one.problem.empty() ? nlohmann::json(nullptr) : nlohmann::json(LocalJsonText(one.problem))}});
    else if (!args.quiet && one.copied)
      std::printf("%-12s %s  %s%s\n", DeviceShownText(one.name).c_str(), one.digest.c_str(),
                  LocalShownText(one.file).c_str(), one.deleted ? " (verified, deleted)" : "");
  }
  if (!options.json && !args.quiet)
    std::printf("ingested %zu, deleted %zu, already copied %zu\n", ingested, deleted, skipped);
  std::fflush(stdout);
  return complete;
}

// Recorders plugged in beside the one being served, named once each while
// they wait.
class WaitingRecorders {
 public:
  void Tell(const lyr::RecorderWatcher& watcher) {
    const std::string serving = watcher.CurrentNode();
    std::set<std::string> now;
    for (const lyr::RecorderEntry& e : watcher.Recorders()) {
      if (e.node == serving) continue;
      now.insert(e.node);
      if (told_.count(e.node) == 0)
        std::fprintf(stderr,
                     "lyrctl: recorder %s at %s waits: one recorder is ingested at a time; unplug %s\n",
                     DeviceShownText(e.device_id).c_str(), LocalShownText(e.node).c_str(),
                     LocalShownText(serving).c_str());
    }
    told_ = std::move(now);
  }

 private:
  std::set<std::string> told_;
};

lyr::Status RunWatch(const GlobalOptions& options, const IngestArgs& args, nlohmann::json& report) {
  lyr::RecorderLink link;
  lyr::RecorderWatcher watcher(link);
  std::atomic<int> plugged{0};
  const lyr::Status watching = lyr::StartWatcher(watcher, [&](int connected, int) {
    if (connected == 1) ++plugged;
  });
  if (!watching) return Failure("cannot watch for recorders", watching.error().code);
  if (!args.quiet && !options.json) std::fprintf(stderr, "waiting for recorders (Ctrl+C to stop)\n");
  bool complete = true, cancelled = false;
  WaitingRecorders waiting;
  while (!g_stop && !cancelled) {
    // A second recorder plugged in is no change the watcher reports; it
    // shows in the watcher's list.
    if (!args.quiet) waiting.Tell(watcher);
    if (plugged.exchange(0) == 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      continue;
    }
    const std::string node = watcher.CurrentNode();
    lyr::RecorderModel model;
    if (const lyr::Status ready = CompleteSession(link, model, node); !ready) {
      std::fprintf(stderr, "lyrctl: %s\n", FailureText(ready.error()).c_str());
      complete = false;
    } else {
      if (!args.quiet && !options.json)
        std::printf("recorder %s at %s\n", watcher.GetDeviceId().c_str(), node.c_str());
      complete = IngestRecorder(link, watcher.GetDeviceId(), options, args, report, &cancelled) && complete;
    }
    // Released without a command (the recorder stays as the user left it),
    // and its disk closed while it waits to be unplugged: other programs may
    // use it meanwhile.
    (void)lyr::LinkCommands(link).ReleaseRecorder(false);
    link.CloseDrive();
  }
  watcher.StopWatcher();
  if (cancelled) return Cancelled("ingest cancelled");
  return complete ? lyr::Status{} : Failure("not every recording was ingested");
}

lyr::Status RunIngest(const GlobalOptions& options, const IngestArgs& args) {
  if (lyr::Status made = lyr::MakeExportFolder(args.folder); !made)
    return Failure("cannot use the folder " + LocalShownText(made.error().Message()));
  nlohmann::json report = nlohmann::json::array();
  lyr::Status status;
  const StopSignals stop_signals;
  if (args.watch) {
    status = RunWatch(options, args, report);
  } else {
    LYR_TRY_ASSIGN(RecorderSession session, OpenRecorderSession(options));
    bool cancelled = false;
    const bool complete = IngestRecorder(*session.link, RecorderDeviceId(session.device_path), options, args,
                                         report, &cancelled);
    if (cancelled)
      status = Cancelled("ingest cancelled");
    else if (!complete)
      status = Failure("not every recording was ingested");
  }
  if (options.json) PrintJson({{"ingested", report}, {"complete", status.ok()}});
  return status;
}

}  // namespace

CommandRun AddIngestCommand(CLI::App& cmd) {
  auto args = std::make_shared<IngestArgs>();
  cmd.add_option("--to", args->folder, "Archive folder; manifest.sha1 there gets a line per recording")
      ->required();
  cmd.add_flag("--sha1", args->sha1, "Also write a SHA-1 digest file (.txt) beside each file");
  cmd.add_flag("--watch", args->watch, "Keep running and ingest each recorder as it is plugged in");
  cmd.add_flag("--delete-after-verify", args->delete_after_verify,
               "Delete a recording once a second read from the recorder has the file's SHA-1");
  cmd.add_flag("--quiet", args->quiet, "Print only errors");
  cmd.footer(
      "Example: lyrctl ingest --to /srv/archive --delete-after-verify\n"
      "Check the archive later with: cd /srv/archive && sha1sum -c manifest.sha1");
  return [args](const GlobalOptions& options) { return RunIngest(options, *args); };
}

}  // namespace lyrctl
