#include "gui/burn/burn_audio_page.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QSlider>
#include <QVBoxLayout>

#include "burn/burn_jobs.h"
#include "burn/tools_burn_runner.h"
#include "link/recorder_link.h"
#include "gui/common/task_queue.h"

namespace lyr {

CDlgBurnAudio::CDlgBurnAudio(const BurnServices& services, QWidget* parent) : CKVBBurnPage(services, parent) {
  setObjectName("audioPage");
  auto* layout = new QVBoxLayout(this);
  tracks_ = new CBurnListBase(this);
  tracks_->setObjectName("trackList");
  tracks_->installEventFilter(this);
  layout->addWidget(tracks_, 1);
  trackbar_ = new QSlider(Qt::Horizontal, this);
  trackbar_->setObjectName("trackbar");
  trackbar_->setRange(0, kMaxSeconds);
  trackbar_->setTickPosition(QSlider::TicksBelow);
  trackbar_->setTickInterval(kTickSeconds);
  trackbar_->setEnabled(false);  // it shows the total, nobody drags it
  layout->addWidget(trackbar_);
  total_time_ = new QLabel("Total Time: 00m:00s", this);
  total_time_->setObjectName("totalTime");
  layout->addWidget(total_time_);
  layout->addWidget(DriveRow());
}

QTreeWidget* CDlgBurnAudio::List() const { return tracks_; }

QString CDlgBurnAudio::TotalTimeText() const {
  return QString::asprintf("Total Time: %2dm:%2ds", static_cast<int>(total_seconds_ / 60),
                           static_cast<int>(total_seconds_ % 60));
}

void CDlgBurnAudio::ShowTotals() {
  trackbar_->setValue(static_cast<int>(std::min<uint32_t>(total_seconds_, kMaxSeconds)));
  total_time_->setText(TotalTimeText());
  UpdateBurnButton();
}

bool CDlgBurnAudio::AddTrack(const RecordingRecord& record) {
  const burn::BURN_FILE file = BurnFileFromRecord(record);
  for (const burn::BURN_FILE& item : items_)
    if (item.entry == file.entry) return false;
  auto* row = new QTreeWidgetItem;
  row->setText(0, QString::fromStdString(record.Name()));  // the full name
  row->setText(1, DurationText(file.duration));
  row->setText(2, QString::asprintf("%u", file.size));
  row->setData(0, Qt::UserRole, file.entry);
  tracks_->addTopLevelItem(row);
  items_.push_back(file);
  ++track_count_;
  total_seconds_ += file.duration;
  ShowTotals();
  return true;
}

void CDlgBurnAudio::DeleteSelected() {
  bool changed = false;
  for (int i = tracks_->topLevelItemCount() - 1; i >= 0; --i) {
    QTreeWidgetItem* row = tracks_->topLevelItem(i);
    if (!row->isSelected()) continue;
    total_seconds_ -= items_[static_cast<size_t>(i)].duration;
    items_.erase(items_.begin() + i);
    --track_count_;
    delete row;
    changed = true;
  }
  if (changed) ShowTotals();
}

bool CDlgBurnAudio::eventFilter(QObject* watched, QEvent* event) {
  if (watched == tracks_ && event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
    DeleteSelected();
    return true;
  }
  if (watched == tracks_ && event->type() == QEvent::ContextMenu) {
    QMenu menu(this);
    QAction* remove = menu.addAction("Delete");
    remove->setEnabled(!tracks_->selectedItems().isEmpty());
    if (menu.exec(static_cast<QContextMenuEvent*>(event)->globalPos()) == remove) DeleteSelected();
    return true;
  }
  return CKVBBurnPage::eventFilter(watched, event);
}

CBurnProgressDlg::Job CDlgBurnAudio::MakeJob(uint32_t device, uint32_t /*disc_kind*/) {
  burn::AudioCdJob job;
  job.items = items_;
  job.device = device;
  return BindJob(job, &burn::RunAudioCdJob);
}

}  // namespace lyr
