// lyr-burngui-bench DISK: burns the demo recordings of the stand-in at DISK
// through the Copy/Burn panel, once as an audio CD and once as a data disc,
// answering the "Burning" dialog from a timer, and prints the longest gap
// between the ticks of a 5 ms timer on the GUI thread while each runs.
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <functional>

#include "burn/burner_tools.h"
#include "gui/burn/burn_audio_page.h"
#include "gui/burn/burn_data_page.h"
#include "gui/burn/copy_burn_panel.h"
#include "gui_bench_support.h"
#include "link/recorder_link.h"
#include "session/connection.h"
#include "gui/common/task_queue.h"
#include "settings/recorder_model.h"

namespace {

using lyr_bench::WaitUntil;

struct Run {
  qint64 longest_ms = -1;
  qint64 total_ms = 0;
  bool burned = false;
};

// Presses Burn on `page` and runs its dialog to the end, measuring the gaps.
Run Burn(lyr::CKVBBurnPage* page) {
  Run run;
  bool done = false;
  lyr_bench::StallProbe probe([&](double) {
    QWidget* modal = QApplication::activeModalWidget();
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      // A rewritable disc already written is erased.
      box->button(box->button(QMessageBox::Ok) != nullptr ? QMessageBox::Ok : QMessageBox::Yes)->click();
    } else if (auto* dlg = qobject_cast<lyr::CBurnProgressDlg*>(modal)) {
      if (!dlg->IsRunning()) {
        dlg->findChild<QPushButton*>("button")->click();
      } else if (!dlg->IsActive()) {
        run.burned = dlg->Result().burned;
        dlg->findChild<QPushButton*>("button")->click();
      }
    }
  });
  QObject::connect(page, &lyr::CKVBBurnPage::burnFinished, [&] { done = true; });
  QElapsedTimer clock;
  clock.start();
  probe.Start();
  page->BurnButton()->click();
  WaitUntil([&] { return done; }, 300000);
  probe.Stop();
  run.longest_ms = static_cast<qint64>(probe.LongestMs());
  run.total_ms = clock.elapsed();
  return run;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication qt(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: lyr-burngui-bench DISK\n");
    return 2;
  }
  lyr::RecorderLink link;
  link.SetSettleDelay(std::chrono::milliseconds(0));
  if (link.OpenLink(argv[1]) != 0) {
    std::fprintf(stderr, "cannot open %s\n", argv[1]);
    return 1;
  }
  link.SetDriveOpen(true);
  lyr::RecorderModel model;
  if (lyr::CompleteConnection(link, model) != lyr::ConnectionResult::kReady) {
    std::fprintf(stderr, "the stand-in did not connect\n");
    return 1;
  }
  lyr::burn::BurnerTools tools;
  lyr::TaskQueue records;
  lyr::TaskQueue tool_calls;  // after the tools: joined before they go
  int result = 0;
  {
    lyr::BurnServices services;
    services.tools = &tools;
    services.link = &link;
    services.record_worker = &records;
    services.tool_worker = &tool_calls;
    const char* temp = std::getenv("TMPDIR");
    const std::string folder = temp != nullptr && *temp != '\0' ? temp : "/tmp";
    services.temp_folder = [folder] { return folder; };
    lyr::CCopyBurnPanel panel(services);
    panel.show();
    panel.InitTools();
    if (!WaitUntil([&] { return panel.ScanCount() > 0 && panel.AudioPage()->DriveCombo()->count() > 0; },
                   20000)) {
      std::fprintf(stderr, "no writer found\n");
      return 1;
    }
    const std::vector<uint32_t> all = {1, 2, 3, 4, 5, 6};
    int added = 0;
    QObject::connect(panel.AudioPage(), &lyr::CDlgBurnAudio::recordingsAdded, [&](int) { ++added; });
    QObject::connect(panel.DataPage(), &lyr::CDlgBurnData::recordingsAdded, [&](int) { ++added; });
    panel.Tabs()->setCurrentWidget(panel.AudioPage());
    panel.AddRecordings(all);
    panel.Tabs()->setCurrentWidget(panel.DataPage());
    panel.AddRecordings(all);
    WaitUntil([&] { return added == 2; }, 20000);

    qint64 worst = 0;
    for (lyr::CKVBBurnPage* page : {static_cast<lyr::CKVBBurnPage*>(panel.AudioPage()),
                                    static_cast<lyr::CKVBBurnPage*>(panel.DataPage())}) {
      const Run run = Burn(page);
      std::printf("%-10s burned=%d in %5lld ms, longest GUI stall %3lld ms\n",
                  page == panel.AudioPage() ? "audio CD" : "data disc", run.burned ? 1 : 0,
                  static_cast<long long>(run.total_ms), static_cast<long long>(run.longest_ms));
      if (!run.burned) result = 1;
      worst = std::max(worst, run.longest_ms);
    }
    std::printf("longest GUI stall during a burn: %lld ms (target < 16 ms; ratio target/stall %.2f)\n",
                static_cast<long long>(worst), worst > 0 ? 16.0 / static_cast<double>(worst) : 0.0);
  }
  link.CloseDrive();
  return result;
}
