// lyr-ui-screenshots [OUTDIR] [--device DISK]
//
// Renders the status panel and each settings page to OUTDIR (default
// build/screenshots) as PNG files, each with its window title drawn above it.
// With --device the windows show that recorder (the demo stand-in served by
// lyr-emu); without it they show a recorder made up in memory.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QPainter>
#include <QPixmap>
#include <QThread>
#include <cstdio>
#include <cstring>
#include <string>

#include "gui/frame/status_panel.h"
#include "link/protocol.h"
#include "link/recorder_link.h"
#include "platform/byte_order.h"
#include "session/connection.h"
#include "settings/settings_templates.h"
#include "gui/common/confirm_dialog.h"
#include "gui/settings/setting_dialog.h"
#include "gui/settings/settings_pages.h"

using namespace lyr;

namespace {

// A recorder in memory: 4 GiB, 1.5 GiB free, firmware 6.012, MPEG at 128 kb/s.
void MakeUpRecorder(lyr::RecorderModel& model, lyr::RecorderLink& link) {
  lyr::MemoryStatusRecord memory{};
  lyr::PutU32(memory.data() + lyr::protocol::kMemSizeUnits, 8388608);
  lyr::PutU32(memory.data() + lyr::protocol::kMemUnitSize, 512);
  lyr::PutU32(memory.data() + lyr::protocol::kMemFreeUnits, 3145728);
  lyr::DeviceRecord device{};
  lyr::PutU16(device.data() + lyr::protocol::kDevFirmwareVersion, 6012);
  lyr::PutU16(device.data() + lyr::protocol::kDevHardwareMcu, 0x0317);
  const uint16_t clock[6] = {2026, 12, 10, 14, 5, 9};
  for (int i = 0; i < 6; ++i) lyr::PutU16(device.data() + lyr::protocol::kDevClock + 2 * i, clock[i]);
  lyr::PutU16(device.data() + CStatusPanel::kDevLevel, 275);
  model.TakeStatus(device, memory, std::chrono::steady_clock::now());
  lyr::FileFormatTemplate f;
  f.codecid = lyr::protocol::kCodecMpegLayer2;
  f.samplerate = 48000;
  f.bitrate = 128000;
  f.channels = 2;
  f.bits = 16;
  lyr::SetFieldText(f.filename, sizeof f.filename, "USER");
  lyr::SetFieldText(f.extname, sizeof f.extname, "MP2");
  model.SetSettingsFileFormat(f);
  link.SetDriveOpen(true);
  link.SetAccessGranted(true);
  link.SetRecorderRefused(false);
}

// Runs the event loop until `done` holds or `ms` pass.
template <class Done>
void WaitFor(Done done, int ms) {
  QElapsedTimer timer;
  timer.start();
  while (!done() && timer.elapsed() < ms) {
    QApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(5);
  }
}

bool Save(QWidget* window, const QDir& dir, const QString& name, bool fit = true) {
  if (fit) window->adjustSize();
  QApplication::processEvents();
  const QPixmap body = window->grab();
  constexpr int kCaption = 24;
  QPixmap shot(body.width(), body.height() + kCaption);
  shot.fill(Qt::white);
  QPainter p(&shot);
  p.fillRect(0, 0, shot.width(), kCaption, QColor(0x2B, 0x4C, 0x7E));
  p.setPen(Qt::white);
  p.drawText(QRect(8, 0, shot.width() - 16, kCaption), Qt::AlignVCenter | Qt::AlignLeft,
             window->windowTitle());
  p.drawPixmap(0, kCaption, body);
  p.end();
  const QString path = dir.filePath(name + QStringLiteral(".png"));
  if (!shot.save(path)) {
    std::fprintf(stderr, "lyr-ui-screenshots: cannot write %s\n", qPrintable(path));
    return false;
  }
  std::printf("%s\n", qPrintable(path));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QString out = QStringLiteral("build/screenshots");
  std::string device;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--device") == 0 && i + 1 < argc)
      device = argv[++i];
    else
      out = QString::fromLocal8Bit(argv[i]);
  }
  QDir dir;
  if (!dir.mkpath(out)) {
    std::fprintf(stderr, "lyr-ui-screenshots: cannot make %s\n", qPrintable(out));
    return 1;
  }
  dir.setPath(out);

  lyr::RecorderModel model;
  lyr::RecorderLink link;
  lyr::TaskQueue worker;  // after the link: its last reads still use it
  if (device.empty()) {
    MakeUpRecorder(model, link);
  } else {
    if (link.OpenLink(device) != 0) {
      std::fprintf(stderr, "lyr-ui-screenshots: %s\n", link.OpenError().Message().c_str());
      return 1;
    }
    link.SetDriveOpen(true);
    if (lyr::CompleteConnection(link, model) != lyr::ConnectionResult::kReady) {
      std::fprintf(stderr, "lyr-ui-screenshots: no usable recorder at %s\n", device.c_str());
      return 1;
    }
  }

  bool ok = true;
  QWidget frame;
  auto* panel = new CStatusPanel(model, link, worker, &frame);
  panel->setWindowTitle(QStringLiteral("Status panel"));
  panel->setParent(nullptr);
  panel->resize(panel->sizeHint());
  panel->show();
  WaitFor([&] { return !panel->IsReading(); }, 5000);
  ok &= Save(panel, dir, QStringLiteral("status_panel"), false);
  panel->resize(panel->minimumSizeHint().width() + 300, panel->height());
  ok &= Save(panel, dir, QStringLiteral("status_panel_wide"), false);

  CSettingsPages pages(model, link, worker, &frame);
  for (auto [page, name] : {std::pair<CSettingsPage*, const char*>{pages.time_date, "time_date_page"},
                            {pages.file_type, "file_type_page"},
                            {pages.machine_info, "machine_info_page"}}) {
    CSettingsPages::ShowPage(page);
    ok &= Save(page, dir, QString::fromLatin1(name));
  }
  // FILE TYPE with an unsent change: PCM, the bit rate list greyed.
  auto* type = pages.file_type->findChild<QComboBox*>(QStringLiteral("type"));
  type->setCurrentIndex(0);
  emit type->activated(0);
  ok &= Save(pages.file_type, dir, QStringLiteral("file_type_page_not_set"));
  pages.HideAll();

  CSettingDialog setting(QDir::tempPath(), &frame);
  setting.show();
  ok &= Save(&setting, dir, QStringLiteral("setting_dialog"));
  CConfirmDialog confirm(QStringLiteral("Format"),
                         QStringLiteral("All recordings on the LYR will be deleted."),
                         QStringLiteral("Copy what you need first."), &frame);
  confirm.show();
  ok &= Save(&confirm, dir, QStringLiteral("confirm_dialog"));

  // Unplugged: every text empty, the meter grey.
  link.SetDriveOpen(false);
  model.NotifyListeners(nullptr);
  ok &= Save(panel, dir, QStringLiteral("status_panel_unplugged"), false);
  delete panel;
  if (!device.empty()) link.CloseDrive();
  return ok ? 0 : 1;
}
