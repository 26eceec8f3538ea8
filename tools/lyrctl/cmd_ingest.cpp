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
#include <thread>

#include "cli_support.h"
#include "link/link_commands.h"
#include "link/recorder_watcher.h"
#include "recording_selection.h"
#include "terminal_window.h"
#include "text_output.h"
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

// Appends the line and makes it durable before the recording may be
// deleted: a manifest that lost its line would no longer vouch for the copy.
lyr::Status AppendManifest(const std::string& folder, const std::string& line) {
  const std::string path = lyr::WithTrailingSeparator(folder) + kManifestName;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return lyr::Error::Os(errno, path);
  const ssize_t n = ::write(fd, line.data(), line.size());
  const int write_errno = errno;
  const bool synced = n == static_cast<ssize_t>(line.size()) && ::fsync(fd) == 0;
  const int sync_errno = errno;
  ::close(fd);
  if (n != static_cast<ssize_t>(line.size())) return lyr::Error::Os(n < 0 ? write_errno : ENOSPC, path);
  if (!synced) return lyr::Error::Os(sync_errno, path);
  return {};
}

// A private folder inside the archive (same file system, so that its files
// can be linked into place), removed with what is left in it.
lyr::Result<lyr::TemporaryFolder> MakeScratchFolder(const std::string& archive) {
  return lyr::TemporaryFolder::Make(archive, ".lyr-ingest-");
}

// Reads the recording from the recorder a second time, into a private
// folder in the archive, and returns the digest of that second copy.
lyr::Result<std::string> SecondReadDigest(lyr::RecorderLink& link, uint32_t entry, lyr::CopyOptions options) {
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
  lyr::SilentReporter reporter;
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

// Gives a finished copy (and its digest file) its name in the archive: the
// copy's own name, else the first free "STEM_2", "STEM_3", ... An existing
// file is never replaced: names repeat across recorders and after a counter
// reset. Returns the copy's path in the archive.
lyr::Result<std::string> PlaceInArchive(const lyr::CopyResult& r, const std::string& archive,
                                        bool with_digest) {
  const std::string& name = r.paths.file_name;
  const size_t dot = name.rfind('.');
  const std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
  const std::string ext = dot == std::string::npos ? "" : name.substr(dot);
  const std::string folder = lyr::WithTrailingSeparator(archive);
  for (int n = 1; n < 100000; ++n) {
    const std::string base = n == 1 ? stem : stem + "_" + std::to_string(n);
    const std::string target = folder + base + ext;
    if (::link(r.paths.target.c_str(), target.c_str()) != 0) {
      if (errno == EEXIST) continue;
      return lyr::Error::Os(errno, target);
    }
    if (with_digest) {
      const std::string digest = folder + base + ".txt";
      if (::link(r.paths.digest.c_str(), digest.c_str()) != 0) {
        const int err = errno;
        ::unlink(target.c_str());
        if (err == EEXIST) continue;
        return lyr::Error::Os(err, digest);
      }
    }
    return target;
  }
  return lyr::Error::Code(lyr::kErrorAlreadyExists, folder + stem + ext + ": no free name");
}

// Copies one recording, writes its manifest line, and with
// --delete-after-verify deletes it once the second read matches.
Ingested IngestOne(lyr::RecorderLink& link, const lyr::RecordingRow& row, lyr::CopyOptions copy,
                   const IngestArgs& args, bool* cancelled) {
  Ingested out;
  out.entry = row.entry;
  out.name = row.name;
  auto scratch = MakeScratchFolder(args.folder);
  if (!scratch) {
    out.problem = "not copied: " + scratch.error().Message();
    return out;
  }
  copy.folder = lyr::WithTrailingSeparator(scratch.value().path());
  lyr::JobQueue queue;
  queue.entries.push_back(row.entry);
  std::vector<lyr::CopyResult> results;
  TerminalWindow window(Answer::No, row.record.DataSize(), args.quiet);
  window.SetStatus(lyr::kJobTitle);
  const int result = RunJobOnTerminal(window, [&](lyr::JobReporter& reporter) {
    return lyr::CopyJob(link, queue, copy, reporter, &results);
  });
  if (result == lyr::kJobCancelled) *cancelled = true;
  if (results.empty() || results.front().outcome != lyr::CopyOutcome::Copied ||
      (copy.output_sha1 && !results.front().digest_written)) {
    const lyr::CopyResult* r = results.empty() ? nullptr : &results.front();
    const char* shown = r != nullptr ? lyr::CopyOutcomeMessage(r->outcome) : nullptr;
    out.problem = shown != nullptr ? shown : (*cancelled ? "cancelled" : "not copied");
    if (r != nullptr && r->error) out.problem += " " + r->error->Message();
    if (r != nullptr && r->digest_error)
      out.problem += " digest file not written: " + r->digest_error->Message();
    return out;
  }
  const auto placed = PlaceInArchive(results.front(), args.folder, copy.output_sha1);
  if (!placed) {
    out.problem = "not copied: " + placed.error().Message();
    return out;
  }
  lyr::CopyResult r = results.front();
  r.paths.target = placed.value();
  r.paths.file_name = fs::path(placed.value()).filename().string();
  copy.folder = lyr::WithTrailingSeparator(args.folder);
  out.copied = true;
  out.file = r.paths.target;
  if (r.digest_written) {
    out.digest = r.digest;
  } else {
    lyr::SilentReporter silent;
    auto digest = lyr::DigestFileText(silent, r.paths.target, 0, 1);
    if (!digest) {
      out.problem = "copied, but no digest: " + digest.error().Message();
      return out;
    }
    out.digest = digest.value();
  }
  if (const lyr::Status appended = AppendManifest(copy.folder, ManifestLine(out.digest, r.paths.file_name));
      !appended) {
    out.problem = "copied, but the manifest was not written: " + appended.error().Message();
    return out;
  }
  if (!args.delete_after_verify || *cancelled) return out;

  const auto second = SecondReadDigest(link, row.entry, copy);
  if (!second) {
    out.problem = "not deleted: " + second.error().context;
    return out;
  }
  if (second.value() != out.digest) {
    out.problem = "not deleted: the second read gave SHA-1 " + second.value() + ", the file " + out.digest;
    return out;
  }
  out.verified = true;
  lyr::JobQueue doomed;
  doomed.entries.push_back(row.entry);
  lyr::SilentReporter silent;
  lyr::DeleteJob(link, doomed, silent);
  // Deleted only when the recorder's list, read again, no longer holds it.
  const std::vector<uint32_t> entry{row.entry};
  auto listed = lyr::EntriesStillListed(link, entry);
  if (!listed) {
    out.problem = "verified, delete not confirmed: " + listed.error().Message();
    return out;
  }
  out.deleted = listed.value().empty();
  if (!out.deleted) out.problem = "verified, but the recorder did not delete it";
  return out;
}

// Ingests every recording of an open recorder not yet marked copied. False
// when something was not ingested (or deleted when asked).
bool IngestRecorder(lyr::RecorderLink& link, const std::string& device_id, const GlobalOptions& options,
                    const IngestArgs& args, nlohmann::json& report, bool* cancelled) {
  lyr::RecordingCatalogue catalogue(link);
  if (const lyr::Status loaded = LoadWholeCatalogue(catalogue); !loaded) {
    std::fprintf(stderr, "lyrctl: %s\n", FailureText(loaded.error()).c_str());
    return false;
  }
  lyr::CopyOptions copy;
  copy.folder = lyr::WithTrailingSeparator(args.folder);
  copy.output_sha1 = args.sha1;
  copy.device_id = device_id;
  bool complete = true;
  size_t ingested = 0, deleted = 0, skipped = 0;
  for (size_t i = 0; i < catalogue.RowCount() && !*cancelled; ++i) {
    const lyr::RecordingRow& row = catalogue.Row(i);
    if (row.copied) {
      ++skipped;
      continue;
    }
    const Ingested one = IngestOne(link, row, copy, args, cancelled);
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

volatile sig_atomic_t g_watch_stop = 0;
void OnWatchStop(int) { g_watch_stop = 1; }

lyr::Status RunWatch(const GlobalOptions& options, const IngestArgs& args, nlohmann::json& report) {
  lyr::RecorderLink link;
  lyr::RecorderWatcher watcher(link);
  std::atomic<int> plugged{0};
  struct sigaction action {
  }, old_int{}, old_term{};
  action.sa_handler = OnWatchStop;
  sigemptyset(&action.sa_mask);
  g_watch_stop = 0;
  sigaction(SIGINT, &action, &old_int);
  sigaction(SIGTERM, &action, &old_term);
  const lyr::Status watching = lyr::StartWatcher(watcher, [&](int connected, int) {
    if (connected == 1) ++plugged;
  });
  if (!watching) return Failure("cannot watch for recorders", watching.error().code);
  if (!args.quiet && !options.json) std::fprintf(stderr, "waiting for recorders (Ctrl+C to stop)\n");
  bool complete = true, cancelled = false;
  while (!g_watch_stop && !cancelled) {
    if (plugged.exchange(0) == 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      continue;
    }
    const std::string node = watcher.CurrentNode();
    lyr::RecorderModel model;
    if (const lyr::Status ready = CompleteSession(link, model, node); !ready) {
      std::fprintf(stderr, "lyrctl: %s\n", FailureText(ready.error()).c_str());
      complete = false;
      continue;
    }
    if (!args.quiet && !options.json)
      std::printf("recorder %s at %s\n", watcher.GetDeviceId().c_str(), node.c_str());
    // The job's own Ctrl+C handling stands in for ours while it runs.
    sigaction(SIGINT, &old_int, nullptr);
    complete = IngestRecorder(link, watcher.GetDeviceId(), options, args, report, &cancelled) && complete;
    sigaction(SIGINT, &action, nullptr);
    // Released without a command: the recorder stays as the user left it.
    (void)lyr::LinkCommands(link).ReleaseRecorder(false);
  }
  watcher.StopWatcher();
  sigaction(SIGINT, &old_int, nullptr);
  sigaction(SIGTERM, &old_term, nullptr);
  if (cancelled) return Cancelled("ingest cancelled");
  return complete ? lyr::Status{} : Failure("not every recording was ingested");
}

lyr::Status RunIngest(const GlobalOptions& options, const IngestArgs& args) {
  if (lyr::Status made = lyr::MakeExportFolder(args.folder); !made)
    return Failure("cannot use the folder " + LocalShownText(made.error().Message()));
  nlohmann::json report = nlohmann::json::array();
  lyr::Status status;
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
