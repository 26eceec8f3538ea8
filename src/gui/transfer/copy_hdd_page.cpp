#include "gui/transfer/copy_hdd_page.h"

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QStyle>
#include <QVBoxLayout>

#include "settings/profile_file.h"
#include "transfer/local_folder.h"

namespace lyr {
namespace {
constexpr char kCommonSection[] = "common";
constexpr char kCopyPathKey[] = "Copy_Path";
constexpr size_t kPathBuffer = 260;
}  // namespace

std::string ReadCopyPath(const std::string& config_path) {
  const std::string home = HomeFolder();
  if (config_path.empty()) return home;
  std::string path = ReadProfileString(config_path, kCommonSection, kCopyPathKey, home, kPathBuffer);
  if (path.empty() || !QFileInfo(QString::fromStdString(path)).isDir()) return home;
  return path;
}

int WriteCopyPath(const std::string& config_path, const std::string& folder) {
  if (config_path.empty() || folder.empty()) return 0;
  return WriteProfileString(config_path, kCommonSection, kCopyPathKey, folder);
}

CLocalFileList::CLocalFileList(QWidget* parent) : QTreeWidget(parent) {
  setObjectName("localFileList");
  setHeaderLabels({"Name", "Type", "Size", "Date"});
  setRootIsDecorated(false);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setUniformRowHeights(true);
  connect(this, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item, int) {
    if (item == nullptr || !item->data(0, Qt::UserRole).toBool()) return;
    emit openFolder(QDir(folder_).filePath(item->text(0)));
  });
}

bool CLocalFileList::Browse(const QString& folder) {
  clear();
  folder_ = QDir::cleanPath(folder);
  const auto rows = ListLocalFolder(folder_.toStdString());
  QList<QTreeWidgetItem*> items;
  for (const auto& row : rows) {
    auto* item = new QTreeWidgetItem({QString::fromStdString(row.name), QString::fromStdString(row.type),
                                      QString::fromStdString(row.size), QString::fromStdString(row.date)});
    item->setData(0, Qt::UserRole, row.is_folder);
    item->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
    item->setIcon(0, style()->standardIcon(row.is_folder ? QStyle::SP_DirIcon : QStyle::SP_FileIcon));
    items.append(item);
  }
  addTopLevelItems(items);
  for (int c = 0; c < columnCount(); ++c) resizeColumnToContents(c);
  return QFileInfo(folder_).isReadable();
}

CLocationCombo::CLocationCombo(QWidget* parent) : QComboBox(parent) {
  setObjectName("locationCombo");
  setEditable(false);
  Fill();
  connect(this, &QComboBox::activated, this, [this](int index) {
    const QString path = itemData(index).toString();
    if (!path.isEmpty()) emit openFolder(path);
  });
}

void CLocationCombo::Fill() {
  clear();
  for (const auto& place : LocalLocations()) {
    addItem(style()->standardIcon(place.path == "/" ? QStyle::SP_DriveHDIcon : QStyle::SP_DirIcon),
            QString::fromStdString(place.label), QString::fromStdString(place.path));
  }
}

void CLocationCombo::ShowPath(const QString& path) {
  // The current path is the first entry when it is not one of the places.
  int index = findData(path);
  if (index < 0) {
    for (int i = count() - 1; i >= 0; --i) {
      if (itemData(i, Qt::UserRole + 1).toBool()) removeItem(i);
    }
    insertItem(0, style()->standardIcon(QStyle::SP_DirOpenIcon), path, path);
    setItemData(0, true, Qt::UserRole + 1);
    index = 0;
  }
  setCurrentIndex(index);
}

CDlgCopyHDD::CDlgCopyHDD(const std::string& config_path, QWidget* parent)
    : CKVBTabPage(parent), config_path_(config_path) {
  setObjectName("copyHddPage");
  auto* layout = new QVBoxLayout(this);
  location_ = new CLocationCombo(this);
  list_ = new CLocalFileList(this);
  layout->addWidget(location_);
  layout->addWidget(list_, 1);

  auto* grid = new QGridLayout();
  pcm_format_ = new QComboBox(this);
  pcm_format_->setObjectName("pcmFormatCombo");
  pcm_format_->addItems({"WAVE Format", "BWF Format"});
  pcm_format_->setCurrentIndex(static_cast<int>(ExportFormat::Bwf));
  mpeg_format_ = new QComboBox(this);
  mpeg_format_->setObjectName("mpegFormatCombo");
  mpeg_format_->addItems({"WAVE Format", "BWF Format", "RAW Format"});
  mpeg_format_->setCurrentIndex(static_cast<int>(ExportFormat::Bwf));
  sha1_ = new QCheckBox("Output SHA1", this);
  sha1_->setObjectName("sha1Check");
  grid->addWidget(new QLabel("PCM:", this), 0, 0);
  grid->addWidget(pcm_format_, 0, 1);
  grid->addWidget(new QLabel("MPEG:", this), 1, 0);
  grid->addWidget(mpeg_format_, 1, 1);
  grid->addWidget(sha1_, 2, 0, 1, 2);
  grid->setColumnStretch(2, 1);
  layout->addLayout(grid);

  connect(list_, &CLocalFileList::openFolder, this, &CDlgCopyHDD::OpenFolder);
  connect(location_, &CLocationCombo::openFolder, this, &CDlgCopyHDD::OpenFolder);
  const QString start = QString::fromStdString(ReadCopyPath(config_path_));
  list_->Browse(start);
  location_->ShowPath(list_->Folder());
}

void CDlgCopyHDD::OpenFolder(const QString& path) {
  list_->Browse(path);
  location_->ShowPath(list_->Folder());
  WriteCopyPath(config_path_, list_->Folder().toStdString());
}

void CDlgCopyHDD::Reread() { list_->Browse(list_->Folder()); }

CopyOptions CDlgCopyHDD::Options() const {
  CopyOptions options;
  options.folder = list_->Folder().toStdString();
  options.pcm_format = static_cast<ExportFormat>(pcm_format_->currentIndex());
  options.mpeg_format = static_cast<ExportFormat>(mpeg_format_->currentIndex());
  options.output_sha1 = sha1_->isChecked();
  return options;
}

}  // namespace lyr
