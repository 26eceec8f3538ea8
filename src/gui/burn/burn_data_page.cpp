#include "gui/burn/burn_data_page.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QStyle>
#include <QToolBar>
#include <QVBoxLayout>

#include "burn/burn_jobs.h"
#include "burn/burner_tools.h"
#include "burn/tools_burn_runner.h"
#include "gui/common/task_queue.h"
#include "link/recorder_link.h"

namespace lyr {
namespace {

QComboBox* FormatCombo(QWidget* parent, const char* name, bool with_raw) {
  auto* combo = new QComboBox(parent);
  combo->setObjectName(name);
  combo->addItem("WAVE Format", 0);
  combo->addItem("BWF Format", 1);
  if (with_raw) combo->addItem("RAW Format", 2);
  combo->setCurrentIndex(1);
  return combo;
}

}  // namespace

CDlgBurnData::CDlgBurnData(const BurnServices& services, QWidget* parent) : CKVBBurnPage(services, parent) {
  setObjectName("dataPage");
  auto* layout = new QVBoxLayout(this);

  auto* top = new QHBoxLayout;
  location_ = new QComboBox(this);
  location_->setObjectName("locationCombo");
  location_->setMinimumWidth(200);
  top->addWidget(location_, 1);
  toolbar_ = new QToolBar(this);
  toolbar_->setObjectName("layoutToolbar");
  QAction* up = toolbar_->addAction(style()->standardIcon(QStyle::SP_FileDialogToParent), "Up One Level");
  up->setObjectName("folderUp");
  QAction* make = toolbar_->addAction(style()->standardIcon(QStyle::SP_FileDialogNewFolder), "New Folder");
  make->setObjectName("newFolder");
  QAction* remove = toolbar_->addAction(style()->standardIcon(QStyle::SP_TrashIcon), "Delete");
  remove->setObjectName("deleteSelected");
  top->addWidget(toolbar_);
  layout->addLayout(top);

  list_ = new CListCtrlBurnData(this);
  layout->addWidget(list_, 1);

  auto* grid = new QGridLayout;
  grid->addWidget(new QLabel("Volume label:", this), 0, 0);
  label_ = new QLineEdit(this);
  label_->setObjectName("volumeLabel");
  label_->setMaxLength(static_cast<int>(burn::kMaxVolumeLabel));  // the image maker refuses more
  grid->addWidget(label_, 0, 1);
  grid->addWidget(new QLabel("PCM files:", this), 1, 0);
  pcm_format_ = FormatCombo(this, "pcmFormat", false);
  grid->addWidget(pcm_format_, 1, 1);
  grid->addWidget(new QLabel("MPEG files:", this), 2, 0);
  mpeg_format_ = FormatCombo(this, "mpegFormat", true);
  grid->addWidget(mpeg_format_, 2, 1);
  sha1_ = new QCheckBox("Output SHA1", this);
  sha1_->setObjectName("outputSha1");
  grid->addWidget(sha1_, 3, 1);
  grid->addWidget(new QLabel("Disc size:", this), 4, 0);
  disc_size_ = new QComboBox(this);
  disc_size_->setObjectName("discSize");
  disc_size_->addItem("CD", 0);
  disc_size_->addItem("DVD", 1);
  grid->addWidget(disc_size_, 4, 1);
  layout->addLayout(grid);

  size_bar_ = new QSlider(Qt::Horizontal, this);
  size_bar_->setObjectName("sizeBar");
  size_bar_->setTickPosition(QSlider::TicksBelow);
  size_bar_->setEnabled(false);  // it shows the total, nobody drags it
  layout->addWidget(size_bar_);
  total_size_ = new QLabel(this);
  total_size_->setObjectName("totalSize");
  layout->addWidget(total_size_);
  layout->addWidget(DriveRow());

  connect(up, &QAction::triggered, this, &CDlgBurnData::FolderUp);
  connect(make, &QAction::triggered, list_, &CListCtrlBurnData::NewFolder);
  connect(remove, &QAction::triggered, list_, &CListCtrlBurnData::DeleteSelected);
  connect(list_, &CListCtrlBurnData::openFolder, this, &CDlgBurnData::OpenFolder);
  connect(list_, &CListCtrlBurnData::layoutChanged, this, &CDlgBurnData::OnLayoutChanged);
  connect(location_, &QComboBox::activated, this, &CDlgBurnData::OnLocationChosen);
  connect(disc_size_, &QComboBox::currentIndexChanged, this, &CDlgBurnData::OnDiscSize);
  OnDiscSize(0);
  FillLocation();
  OnLayoutChanged();
}

QTreeWidget* CDlgBurnData::List() const { return list_; }

uint64_t CDlgBurnData::RequiredBytes() const {
  return static_cast<uint64_t>(list_->FileCount()) * 1024 + list_->TotalSize();
}

QString CDlgBurnData::TotalSizeText() const {
  return QString::asprintf("Total size: %d MB", static_cast<int>(list_->TotalSize() / 1024 / 1024));
}

void CDlgBurnData::OnLayoutChanged() {
  const auto mb = static_cast<int>(std::min<uint64_t>(list_->TotalSize() / 1024 / 1024, 1u << 30));
  size_bar_->setValue(std::min(mb, size_bar_->maximum()));
  total_size_->setText(TotalSizeText());
  FillLocation();
  UpdateBurnButton();
}

void CDlgBurnData::OnDiscSize(int index) {
  const bool dvd = index == 1;
  size_bar_->setRange(0, dvd ? 5000 : 800);
  // One tick mark: at 700 MB for a CD, at 4,500 MB for a DVD.
  size_bar_->setTickInterval(dvd ? 4500 : 700);
  OnLayoutChanged();
}

void CDlgBurnData::FillLocation() {
  // "My CD" for the root, then each folder down to the current one; an
  // entry's data is its folder's path, "/%s" from the entries below the
  // root joined by "/".
  std::vector<std::string> names;
  for (const burn::BURN_FOLDER* f = &list_->Tree().CurrentFolder(); f->parent != nullptr; f = f->parent)
    names.insert(names.begin(), f->name);
  filling_location_ = true;
  location_->clear();
  location_->addItem(style()->standardIcon(QStyle::SP_DriveCDIcon), "My CD", QString("/"));
  QString path;
  int depth = 1;
  for (const std::string& name : names) {
    path += "/" + QString::fromStdString(name);
    location_->addItem(style()->standardIcon(QStyle::SP_DirIcon),
                       QString(depth++ * 2, ' ') + QString::fromStdString(name), path);
  }
  location_->setCurrentIndex(location_->count() - 1);
  filling_location_ = false;
}

void CDlgBurnData::OnLocationChosen(int index) {
  if (filling_location_ || index < 0) return;
  OpenFolder(location_->itemData(index).toString());
}

void CDlgBurnData::OpenFolder(const QString& path) { list_->ShowFolder(path.toStdString()); }

void CDlgBurnData::FolderUp() {
  const burn::BURN_FOLDER* parent = list_->Tree().CurrentFolder().parent;
  if (parent != nullptr) list_->ShowFolder(burn::CBurnTree::GetFolderPath(parent));
}

bool CDlgBurnData::AddRecord(const RecordingRecord& record) {
  return list_->AddRecording(BurnFileFromRecord(record));
}

CBurnProgressDlg::Job CDlgBurnData::MakeJob(uint32_t device, uint32_t disc_kind) {
  disc_kind_ = disc_kind;
  burn::DataDiscJob job;
  list_->Tree().CollectFiles(&job.files);
  job.device = device;
  job.volume_label = label_->text().toStdString();
  job.disc_kind = disc_kind;
  job.pcm_format = static_cast<ExportFormat>(pcm_format_->currentData().toInt());
  job.mpeg_format = static_cast<ExportFormat>(mpeg_format_->currentData().toInt());
  job.output_sha1 = sha1_->isChecked();
  job.device_id = services_.device_id ? services_.device_id() : std::string();
  return BindJob(job, &burn::RunDataDiscJob);
}

}  // namespace lyr
