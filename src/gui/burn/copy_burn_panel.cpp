#include "gui/burn/copy_burn_panel.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QHideEvent>
#include <QPointer>
#include <QScreen>
#include <QShowEvent>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "burn/drive_watcher.h"
#include "gui/burn/burn_audio_page.h"
#include "gui/burn/burn_data_page.h"
#include "gui/common/task_queue.h"
#include "platform/trace.h"
#include "settings/profile_file.h"

namespace lyr {

CCopyBurnPanel::CCopyBurnPanel(BurnServices services, QWidget* parent)
    : QWidget(parent), services_(services) {
  // The tools' calls run on the application's queue; a panel made without
  // it could only crash at its first drive scan.
  if (services_.tool_worker == nullptr) qFatal("CCopyBurnPanel needs the application's tool queue");
  setObjectName("copyBurnPanel");
  // A tool window of its main window: it stays above it when the play list
  // is clicked (to pick the recordings it takes).
  setWindowFlags(Qt::Tool);
  setWindowTitle("Copy/Burn panel");
  auto* layout = new QVBoxLayout(this);
  tabs_ = new QTabWidget(this);
  tabs_->setObjectName("tabs");
  data_ = new CDlgBurnData(services_, tabs_);
  audio_ = new CDlgBurnAudio(services_, tabs_);
  tabs_->addTab(data_, "Data CD");
  tabs_->addTab(audio_, "Audio CD");
  layout->addWidget(tabs_);
  for (CKVBBurnPage* page : {static_cast<CKVBBurnPage*>(data_), static_cast<CKVBBurnPage*>(audio_)}) {
    connect(page, &CKVBBurnPage::burnFinished, this, &CCopyBurnPanel::OnBurnFinished);
    connect(page, &CKVBBurnPage::discChecked, this, &CCopyBurnPanel::OnBurnFinished);
  }
  connect(tabs_, &QTabWidget::currentChanged, this, &CCopyBurnPanel::OnTabChanged);
  resize(560, 520);
}

CCopyBurnPanel::~CCopyBurnPanel() {
  watcher_.reset();
  // A disc check waiting for an answer gets "No"; what is still queued on
  // the tool worker runs later and reports to no page.
  data_->Stop();
  audio_->Stop();
}

void CCopyBurnPanel::AddCopyPage(CKVBTabPage* page) { tabs_->addTab(page, "HDD"); }

CKVBTabPage* CCopyBurnPanel::CurrentPage() const {
  return qobject_cast<CKVBTabPage*>(tabs_->currentWidget());
}

void CCopyBurnPanel::AddRecordings(const std::vector<uint32_t>& entries) {
  if (CKVBTabPage* page = CurrentPage()) page->AddRecordings(entries);
}

void CCopyBurnPanel::OnTabChanged(int /*index*/) {
  TracePage();
  const CKVBTabPage* page = CurrentPage();
  emit panelPageChanged(page == nullptr || !page->IsBurnPage());
}

void CCopyBurnPanel::InitTools() {
  burn::BurnerTools* tools = services_.tools;
  services_.tool_worker->Post([tools] { tools->InitBurnerTools(); });
  RescanDrives();
}

void CCopyBurnPanel::RescanDrives() {
  // One child runs at a time: the job's tool owns it until the job ends.
  if (IsBusy() || scanning_) {
    rescan_pending_ = true;
    return;
  }
  rescan_pending_ = false;
  scanning_ = true;
  burn::BurnerTools* tools = services_.tools;
  QPointer<CCopyBurnPanel> guard(this);
  services_.tool_worker->Post([tools, guard] {
    burn::BurnerDrives drives(*tools);
    (void)drives.ScanBurnerDrives();
    const std::vector<burn::BURN_DRIVE_INFO> writers = drives.Writers();
    QMetaObject::invokeMethod(
        qApp,
        [guard, writers] {
          if (guard) guard->OnScanned(writers);
        },
        Qt::QueuedConnection);
  });
}

void CCopyBurnPanel::OnScanned(const std::vector<burn::BURN_DRIVE_INFO>& writers) {
  scanning_ = false;
  writers_ = writers;
  ++scans_;
  data_->FillDrives(writers);
  audio_->FillDrives(writers);
  Trace("burn: %zu writers\n", writers.size());
  emit drivesScanned(static_cast<int>(writers.size()));
  if (rescan_pending_) RescanDrives();
}

bool CCopyBurnPanel::WatchDrives(const std::string& sysfs_root) {
  watcher_ = std::make_unique<burn::OpticalDriveWatcher>(sysfs_root);
  QPointer<CCopyBurnPanel> guard(this);
  // The watcher reports on its own thread; the scan is started on this one.
  return watcher_->Start([guard] {
    QMetaObject::invokeMethod(
        qApp,
        [guard] {
          if (guard) guard->RescanDrives();
        },
        Qt::QueuedConnection);
  }) != 0;
}

// A scan asked for while a disc check or a burn ran is made once both ended.
void CCopyBurnPanel::OnBurnFinished() {
  if (rescan_pending_ && !IsBusy()) RescanDrives();
}

bool CCopyBurnPanel::IsBusy() const { return data_->IsBusy() || audio_->IsBusy(); }

void CCopyBurnPanel::Stop() {
  if (!IsBusy()) return;
  data_->Stop();
  audio_->Stop();
}

bool CCopyBurnPanel::RecorderLeft() {
  const bool data = data_->RecorderLeft();
  return audio_->RecorderLeft() || data;
}

namespace {
constexpr char kPlaceSection[] = "common";
constexpr char kPlaceXKey[] = "Panel_X";
constexpr char kPlaceYKey[] = "Panel_Y";
constexpr int kNoPlace = -100000;
constexpr int kMenuBarRoom = 64;  // below the main window's title and menu bar
}  // namespace

void CCopyBurnPanel::PlaceOnFirstShow() {
  if (placed_) return;
  placed_ = true;
  if (!placement_file_.empty()) {
    const QPoint kept(ReadProfileInt(placement_file_, kPlaceSection, kPlaceXKey, kNoPlace),
                      ReadProfileInt(placement_file_, kPlaceSection, kPlaceYKey, kNoPlace));
    // A place on a screen that is no longer there is not used.
    if (kept.x() != kNoPlace && kept.y() != kNoPlace && QGuiApplication::screenAt(kept) != nullptr) {
      move(kept);
      return;
    }
  }
  const QWidget* main = parentWidget() != nullptr ? parentWidget()->window() : nullptr;
  if (main == nullptr) return;
  const QRect frame = main->frameGeometry();
  move(std::max(frame.left(), frame.right() - frameGeometry().width() - 8), frame.top() + kMenuBarRoom);
}

void CCopyBurnPanel::SavePlace() const {
  if (placement_file_.empty() || !placed_) return;
  const QPoint at = pos();
  WriteProfileString(placement_file_, kPlaceSection, kPlaceXKey, std::to_string(at.x()));
  WriteProfileString(placement_file_, kPlaceSection, kPlaceYKey, std::to_string(at.y()));
}

void CCopyBurnPanel::hideEvent(QHideEvent* event) {
  if (!event->spontaneous()) SavePlace();
  QWidget::hideEvent(event);
}

void CCopyBurnPanel::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) PlaceOnFirstShow();
  QWidget::showEvent(event);
  // Once the window has its place on the screen.
  QTimer::singleShot(100, this, &CCopyBurnPanel::TracePage);
}

void CCopyBurnPanel::TracePage() const {
  if (!TraceEnabled() || !isVisible()) return;
  QString text = QString("burn: page \"%1\":").arg(tabs_->tabText(tabs_->currentIndex()));
  auto at = [&](const QString& name, const QWidget* widget, QPoint centre) {
    const QPoint global = widget->mapToGlobal(centre);
    text += QString(" %1 at %2,%3;").arg(name).arg(global.x()).arg(global.y());
  };
  for (int i = 0; i < tabs_->count(); ++i)
    at(QString("tab%1").arg(i), tabs_->tabBar(), tabs_->tabBar()->tabRect(i).center());
  for (const QAbstractButton* button : tabs_->currentWidget()->findChildren<QAbstractButton*>()) {
    if (!button->objectName().isEmpty() && button->isVisible())
      at(button->objectName(), button, button->rect().center());
  }
  Trace("%s\n", text.toUtf8().constData());
}

void CCopyBurnPanel::closeEvent(QCloseEvent* event) {
  Stop();
  QWidget::closeEvent(event);
}

}  // namespace lyr
