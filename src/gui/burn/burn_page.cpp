#include "gui/burn/burn_page.h"

#include <stdlib.h>

#include <QApplication>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <filesystem>
#include <optional>

#include "burn/disc_check.h"
#include "link/link_commands.h"
#include "gui/common/task_queue.h"
#include "link/recorder_link.h"
#include "platform/trace.h"
#include "gui/common/unplug_notice.h"

namespace lyr {

JobTempFolder::JobTempFolder(const std::string& parent) : path_(parent) {
  if (path_.empty() || path_.back() != '/') path_.push_back('/');
  std::string pattern = path_ + "lyr-burn-XXXXXX";
  if (::mkdtemp(pattern.data()) != nullptr) {
    path_ = pattern + "/";
    own_ = true;
  }
}

JobTempFolder::~JobTempFolder() {
  std::error_code ec;
  if (own_) std::filesystem::remove_all(path_, ec);
}

std::string CKVBBurnPage::TempFolder() const {
  std::string folder = services_.temp_folder ? services_.temp_folder() : std::string();
  if (folder.empty()) folder = "/tmp";
  if (folder.back() != '/') folder.push_back('/');
  return folder;
}

CKVBBurnPage::CKVBBurnPage(const BurnServices& services, QWidget* parent)
    : CKVBTabPage(parent), services_(services) {
  drive_row_ = new QWidget(this);
  auto* row = new QHBoxLayout(drive_row_);
  row->setContentsMargins(0, 0, 0, 0);
  row->addWidget(new QLabel("Recorder:", drive_row_));
  drive_combo_ = new QComboBox(drive_row_);
  drive_combo_->setObjectName("driveCombo");
  drive_combo_->setMinimumWidth(220);
  row->addWidget(drive_combo_, 1);
  burn_button_ = new QPushButton("Burn", drive_row_);
  burn_button_->setObjectName("burnButton");
  row->addWidget(burn_button_);
  connect(burn_button_, &QPushButton::clicked, this, &CKVBBurnPage::OnBurn);
  burn_button_->setEnabled(false);
}

QString DriveLabel(const char* name) {
  // The name holds the vendor's field (8 characters, blank-padded) right
  // before the product's: a full vendor field would run into the product.
  constexpr int kVendorField = 8;
  const QString raw = QString::fromLocal8Bit(name);
  if (raw.size() <= kVendorField) return raw.simplified();
  return (raw.left(kVendorField).trimmed() + ' ' + raw.mid(kVendorField).trimmed()).simplified();
}

CKVBBurnPage::~CKVBBurnPage() {
  // A check still on the tool worker answers its boxes "No" and reports to
  // nobody.
  questions_.Close();
}

void CKVBBurnPage::FillDrives(const std::vector<burn::BURN_DRIVE_INFO>& writers) {
  const QVariant before = drive_combo_->currentData();
  drive_combo_->clear();
  for (const burn::BURN_DRIVE_INFO& drive : writers) {
    if ((drive.write_capabilities & burn::kMediaWritableKinds) == 0) continue;
    drive_combo_->addItem(DriveLabel(drive.name), QVariant::fromValue<quint32>(drive.device));
  }
  const int kept = before.isValid() ? drive_combo_->findData(before) : -1;
  if (kept >= 0) drive_combo_->setCurrentIndex(kept);
  UpdateBurnButton();
}

uint32_t CKVBBurnPage::SelectedDevice() const {
  if (drive_combo_->currentIndex() < 0) return burn::kNoDevice;
  return drive_combo_->currentData().value<quint32>();
}

void CKVBBurnPage::AddRecordings(const std::vector<uint32_t>& entries) {
  if (services_.link == nullptr || services_.record_worker == nullptr) return;
  RecorderLink* link = services_.link;
  QPointer<CKVBBurnPage> guard(this);
  services_.record_worker->Post([link, entries, guard] {
    std::vector<std::optional<RecordingRecord>> records;
    for (uint32_t entry : entries) {
      const Result<RecordingRecordBytes> read = LinkCommands(*link).GetRecordingInfo(entry);
      if (read)
        records.emplace_back(RecordingRecord(read.value()));
      else
        records.emplace_back(std::nullopt);
    }
    QMetaObject::invokeMethod(
        qApp,
        [guard, records] {
          if (guard == nullptr) return;
          int added = 0;
          for (const auto& record : records)
            if (record && guard->AddRecord(*record)) ++added;
          Trace("burn: %d of %zu recordings added\n", added, records.size());
          emit guard->recordingsAdded(added);
        },
        Qt::QueuedConnection);
  });
}

void CKVBBurnPage::UpdateBurnButton() {
  const QTreeWidget* list = List();
  burn_button_->setEnabled(!checking_ && !stopping_ && drive_combo_->count() > 0 && list != nullptr &&
                           list->topLevelItemCount() > 0);
}

void CKVBBurnPage::OnBurn() {
  if (checking_ || dialog_ != nullptr || stopping_ || services_.tool_worker == nullptr) return;
  const uint64_t required = RequiredBytes();
  const uint32_t device = SelectedDevice();
  const bool cd_only = CdOnly();
  const std::string temp = TempFolder();
  checking_ = true;
  UpdateBurnButton();
  questions_.Reopen();
  burn::BurnerTools* tools = services_.tools;
  auto reporter = std::make_shared<QuestionReporter>(questions_.Asker());
  QPointer<CKVBBurnPage> guard(this);
  services_.tool_worker->Post([tools, device, required, cd_only, temp, reporter, guard] {
    const Result<uint32_t> checked = burn::CheckDisc(*tools, device, required, cd_only, temp, *reporter);
    const int result = checked ? 1 : 0;
    const uint32_t kind = checked.value_or(0);
    QMetaObject::invokeMethod(
        qApp,
        [guard, result, device, kind] {
          if (guard) guard->OnDiscChecked(result, device, kind);
        },
        Qt::QueuedConnection);
  });
}

void CKVBBurnPage::OnDiscChecked(int result, uint32_t device, uint32_t disc_kind) {
  checking_ = false;
  if (result == 0 || stopping_) {
    stopping_ = false;
    UpdateBurnButton();
    emit discChecked(false);
    return;
  }
  // The job owns the tool runner from here: a drive scan waits for its end.
  job_event_.ResetEvent();
  emit discChecked(true);
  burn_button_->setEnabled(false);
  {
    CBurnProgressDlg dialog(this, MakeJob(device, disc_kind), window());
    dialog.SetTotalBytes(RequiredBytes());
    dialog_ = &dialog;
    dialog.exec();
    dialog_ = nullptr;
    if (recorder_left_) {
      recorder_left_ = false;
      ShowUnplugNotice(window(),
                       dialog.Result().written ? InterruptedJob::kBurnMarks : InterruptedJob::kBurnDownload);
    }
  }
  stopping_ = false;
  job_event_.Set();
  UpdateBurnButton();
  emit burnFinished();
}

bool CKVBBurnPage::RecorderLeft() {
  if (dialog_ == nullptr) return false;
  recorder_left_ = true;
  return true;
}

void CKVBBurnPage::Stop() {
  if (!IsBusy()) return;
  stopping_ = true;
  questions_.Close();
  if (dialog_ != nullptr) dialog_->RequestClose();
  UpdateBurnButton();
}

}  // namespace lyr
