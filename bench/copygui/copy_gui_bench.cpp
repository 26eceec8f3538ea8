// Copies every recording of a recorder through the copy command and its
// "Files Processing" dialog (offscreen), and measures the GUI thread meanwhile
// with a 5 ms timer. Prints "<seconds> <longest stall in ms>".
//   bench_copy_gui DEVICE FOLDER
#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>
#include <chrono>
#include <cstdio>

#include "gui_bench_support.h"
#include "link/recorder_link.h"
#include "recordings/recording_catalogue.h"
#include "session/connection.h"
#include "settings/recorder_model.h"
#include "job/job_reporter.h"
#include "gui/transfer/transfer_commands.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: bench_copy_gui DEVICE FOLDER\n");
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  lyr::RecorderLink link;
  link.ResetLinkState();
  if (link.OpenLink(argv[1]) != 0) return 1;
  link.SetDriveOpen(true);
  lyr::RecorderModel model;
  if (lyr::CompleteConnection(link, model) != lyr::ConnectionResult::kReady) return 1;
  lyr::RecordingCatalogue catalogue(link);
  if (catalogue.RefreshRecordings() == 0) return 1;
  std::vector<uint32_t> entries;
  for (const auto& row : catalogue.Rows()) entries.push_back(row.entry);

  // The dialog opens over a shown window, as over the program's frame: the
  // process's first window (fonts, style) is not part of a copy.
  QWidget owner;
  auto* layout = new QVBoxLayout(&owner);
  layout->addWidget(new QLabel("LYR0001  00:00:12  10:20:37  19.08.11"));
  layout->addWidget(new QProgressBar);
  owner.resize(640, 480);
  owner.show();
  lyr_bench::WaitUntil([] { return false; }, 200);  // 200 ms for it to be drawn

  lyr::CTransferCommands commands(link, model, nullptr, &owner);
  lyr::CopyOptions options;
  options.folder = argv[2];
  options.pcm_format = lyr::ExportFormat::Wave;
  lyr_bench::StallProbe probe;
  const auto start = std::chrono::steady_clock::now();
  probe.Start();
  const int result = commands.CopyAndSave(entries, options);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  probe.Stop();
  if (result != lyr::kJobSucceeded) return 1;
  // The timer's own 5 ms is not a stall.
  const double stall_ms = probe.LongestMs() - lyr_bench::StallProbe::kIntervalMs;
  std::printf("%.3f %.1f\n", seconds, std::max(0.0, stall_ms));
  // Where the longest stall began, for BENCH_VERBOSE.
  std::fprintf(stderr, "longest stall began %.1f ms into the copy\n", probe.LongestAtMs());
  return 0;
}
