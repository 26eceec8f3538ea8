// lyr-transfer-screenshots OUTDIR: the "HDD" page browsing a folder of
// recordings copied before, and the "Files Processing" dialog in the middle
// of a copy (both bars).
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPixmap>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "gui/transfer/copy_hdd_page.h"
#include "transfer/transfer_jobs.h"
#include "gui/transfer/progress_dialog.h"

namespace {

void Settle() {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < 200) QApplication::processEvents(QEventLoop::AllEvents, 20);
}

bool Save(QWidget* widget, const QDir& dir, const QString& name) {
  const QString path = dir.filePath(name + ".png");
  if (!widget->grab().save(path)) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
  }
  std::printf("%s\n", qPrintable(path));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication qt(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: lyr-transfer-screenshots OUTDIR\n");
    return 2;
  }
  const QDir dir(argv[1]);
  QDir().mkpath(dir.path());
  bool ok = true;

  // A folder with copies made before: WAVE, raw Layer II and their digests.
  QTemporaryDir temp;
  const QDir folder(temp.path());
  folder.mkdir("Interviews");
  const struct {
    const char* name;
    int kib;
  } files[] = {{"LYR0001.wav", 52341}, {"LYR0002.wav", 1830},   {"LYR0003.mp2", 7204},
               {"LYR0003.txt", 1},     {"Concert.wav", 318220}, {"notes.doc", 12}};
  for (const auto& f : files) {
    QFile out(folder.filePath(f.name));
    if (out.open(QIODevice::WriteOnly)) out.resize(static_cast<qint64>(f.kib) * 1024);
  }
  {
    lyr::CDlgCopyHDD page("");
    page.OpenFolder(temp.path());
    page.resize(560, 420);
    page.show();
    Settle();
    ok &= Save(&page, dir, "copy_hdd_page");
  }

  // The dialog half-way through the second of three recordings.
  std::atomic<bool> release{false};
  auto job = [&](lyr::JobReporter& r) {
    r.SetStatus("Copying... LYR0002.WAV");
    // Moving bars, so that the labels can say the time left.
    for (int i = 0; !release; ++i) {
      r.SetProgress(std::min(33 + i / 2, 99));
      r.SetFileProgress(std::min(i * 2, 99));
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
  };
  QTimer::singleShot(1500, [&] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (auto* d = qobject_cast<lyr::CProgressDlg*>(w); d != nullptr && d->isVisible())
        ok &= Save(d, dir, "files_processing");
    }
    release = true;
  });
  lyr::RunProgressDialog(nullptr, job, lyr::kJobTitle, 2, true);
  return ok ? 0 : 1;
}
