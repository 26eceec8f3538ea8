#include "gui/transfer/copy_hdd_page.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardItemModel>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>
#include <cerrno>
#include <cstring>

#include "gui/transfer/file_system_read.h"
#include "settings/profile_file.h"
#include "transfer/local_folder.h"

namespace lyr {
namespace {
constexpr char kCommonSection[] = "common";
constexpr char kCopyPathKey[] = "Copy_Path";
constexpr char kPcmFormatKey[] = "Copy_PCM_Format";
constexpr char kMpegFormatKey[] = "Copy_MPEG_Format";
constexpr char kSha1Key[] = "Copy_SHA1";
constexpr size_t kPathBuffer = 260;
constexpr int kRereadDelayMs = 200;
constexpr char kNewFolderName[] = "New Folder";

// Roles of the list's first column and the combo's items.
constexpr int kIsFolderRole = Qt::UserRole;
constexpr int kBytesRole = Qt::UserRole + 1;
constexpr int kTransientRole = Qt::UserRole + 1;  // the combo's current path and its parents
constexpr int kLabelRole = Qt::UserRole + 2;      // the combo's label of a volume

// Folders stay above files whichever way the list is sorted; sizes sort by
// bytes.
class FileRow : public QTreeWidgetItem {
 public:
  using QTreeWidgetItem::QTreeWidgetItem;
  bool operator<(const QTreeWidgetItem& other) const override {
    const bool folder = data(0, kIsFolderRole).toBool();
    const bool other_folder = other.data(0, kIsFolderRole).toBool();
    const QTreeWidget* tree = treeWidget();
    const bool ascending = tree == nullptr || tree->header()->sortIndicatorOrder() == Qt::AscendingOrder;
    if (folder != other_folder) return ascending ? folder : other_folder;
    const int column = tree == nullptr ? 0 : tree->sortColumn();
    if (column == 2) return data(0, kBytesRole).toULongLong() < other.data(0, kBytesRole).toULongLong();
    return text(column).compare(other.text(column), Qt::CaseInsensitive) < 0;
  }
};

}  // namespace

QString SizeText(uint64_t bytes) {
  return QString("%1 MB").arg(static_cast<double>(bytes) / 1048576.0, 0, 'f', 2);
}

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
  setSortingEnabled(true);
  sortByColumn(0, Qt::AscendingOrder);
  watcher_ = new QFileSystemWatcher(this);
  reread_ = new QTimer(this);
  reread_->setSingleShot(true);
  reread_->setInterval(kRereadDelayMs);
  connect(reread_, &QTimer::timeout, this, [this] { Browse(folder_); });
  connect(watcher_, &QFileSystemWatcher::directoryChanged, reread_, qOverload<>(&QTimer::start));
  connect(this, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item, int) { OpenRow(item); });
}

void CLocalFileList::OpenRow(QTreeWidgetItem* item) {
  if (item == nullptr || !item->data(0, kIsFolderRole).toBool()) return;
  emit openFolder(QDir(folder_).filePath(item->text(0)));
}

void CLocalFileList::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    OpenRow(currentItem());
    return;
  }
  QTreeWidget::keyPressEvent(event);
}

void CLocalFileList::Browse(const QString& folder) {
  const QString cleaned = QDir::cleanPath(folder);
  if (cleaned != folder_) clear();
  folder_ = cleaned;
  const quint64 ticket = ++ticket_;
  const std::string path = folder_.toStdString();
  ReadOffGuiThread(
      this,
      [this, ticket, path]() -> ReadDelivery {
        auto rows = ListLocalFolder(path);
        const bool readable = ::access(path.c_str(), R_OK | X_OK) == 0;
        return [this, ticket, rows = std::move(rows), readable] {
          if (ticket != ticket_) return;
          clear();
          QList<QTreeWidgetItem*> items;
          for (const auto& row : rows) {
            auto* item = new FileRow(QStringList{
                QString::fromStdString(row.name), QString::fromStdString(row.type),
                row.is_folder ? QString() : SizeText(row.bytes), QString::fromStdString(row.date)});
            item->setData(0, kIsFolderRole, row.is_folder);
            item->setData(0, kBytesRole, QVariant::fromValue<qulonglong>(row.bytes));
            item->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
            item->setIcon(0, style()->standardIcon(row.is_folder ? QStyle::SP_DirIcon : QStyle::SP_FileIcon));
            items.append(item);
          }
          addTopLevelItems(items);
          for (int c = 0; c < columnCount(); ++c) resizeColumnToContents(c);
          if (readable) Watch(folder_);
          emit browsed(folder_, readable);
        };
      },
      kReadBoundMs,
      [this, ticket] {
        if (ticket != ticket_) return;
        clear();
        auto* row = new FileRow(QStringList{kNotAnswering});
        row->setFlags(Qt::NoItemFlags);
        addTopLevelItem(row);
      });
}

void CLocalFileList::Watch(const QString& folder) {
  // The folder has just answered: watching it does not block.
  const QStringList watched = watcher_->directories();
  if (watched == QStringList{folder}) return;
  if (!watched.isEmpty()) watcher_->removePaths(watched);
  watcher_->addPath(folder);
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

void CLocationCombo::Fill(const std::string& mounts_file) {
  clear();
  const std::string home = HomeFolder();
  for (const auto& place : MountedPlaces(mounts_file)) {
    const QString path = QString::fromStdString(place.path);
    addItem(style()->standardIcon(place.path == "/" ? QStyle::SP_DriveHDIcon : QStyle::SP_DirIcon),
            QString::fromStdString(place.label), path);
    setItemData(count() - 1, QString::fromStdString(place.label), kLabelRole);
    if (place.path == "/" || place.path == home) continue;
    // A volume is offered once it has shown it can be used.
    const std::string probe = place.path;
    ReadOffGuiThread(
        this,
        [this, probe, path]() -> ReadDelivery {
          const bool usable = IsUsableLocation(probe);
          return [this, path, usable] {
            const int at = findData(path);
            if (at < 0) return;
            if (!usable && !itemData(at, kTransientRole).toBool()) {
              removeItem(at);
              return;
            }
            SetAnswering(path, true);
          };
        },
        kProbeBoundMs, [this, path] { SetAnswering(path, false); });
  }
}

void CLocationCombo::SetAnswering(const QString& path, bool answering) {
  const int at = findData(path);
  if (at < 0) return;
  const QString label = itemData(at, kLabelRole).toString();
  if (label.isEmpty()) return;
  setItemText(at, answering ? label : label + " (not answering)");
  if (auto* items = qobject_cast<QStandardItemModel*>(model())) {
    if (QStandardItem* item = items->item(at)) item->setEnabled(answering);
  }
}

void CLocationCombo::ShowPath(const QString& path) {
  // The current path is the first entry when it is not one of the places,
  // with the folders above it after it.
  for (int i = count() - 1; i >= 0; --i) {
    if (itemData(i, kTransientRole).toBool()) removeItem(i);
  }
  int index = findData(path);
  if (index < 0) {
    insertItem(0, style()->standardIcon(QStyle::SP_DirOpenIcon), path, path);
    setItemData(0, true, kTransientRole);
    index = 0;
  }
  int at = index + 1;
  for (const std::string& parent : ParentFolders(path.toStdString())) {
    const QString folder = QString::fromStdString(parent);
    if (findData(folder) >= 0) continue;
    insertItem(at, style()->standardIcon(QStyle::SP_DirIcon), "    " + folder, folder);
    setItemData(at, true, kTransientRole);
    ++at;
  }
  setCurrentIndex(index);
}

CDlgCopyHDD::CDlgCopyHDD(const std::string& config_path, QWidget* parent)
    : CKVBTabPage(parent), config_path_(config_path) {
  setObjectName("copyHddPage");
  auto* layout = new QVBoxLayout(this);
  auto* row = new QHBoxLayout();
  location_ = new CLocationCombo(this);
  auto* up = new QPushButton(style()->standardIcon(QStyle::SP_FileDialogToParent), "Up", this);
  up->setObjectName("upButton");
  up->setToolTip("The folder above this one");
  auto* make = new QPushButton(style()->standardIcon(QStyle::SP_FileDialogNewFolder), "New Folder", this);
  make->setObjectName("newFolderButton");
  row->addWidget(location_, 1);
  row->addWidget(up);
  row->addWidget(make);
  list_ = new CLocalFileList(this);
  layout->addLayout(row);
  layout->addWidget(list_, 1);

  auto* grid = new QGridLayout();
  pcm_format_ = new QComboBox(this);
  pcm_format_->setObjectName("pcmFormatCombo");
  pcm_format_->addItems({"WAVE Format", "BWF Format"});
  mpeg_format_ = new QComboBox(this);
  mpeg_format_->setObjectName("mpegFormatCombo");
  mpeg_format_->addItems({"WAVE Format", "BWF Format", "RAW Format"});
  sha1_ = new QCheckBox("Output SHA1", this);
  sha1_->setObjectName("sha1Check");
  // The choices of the last run, BWF and no digest at first.
  const int bwf = static_cast<int>(ExportFormat::Bwf);
  const auto remembered = [this](const char* key, int fallback) {
    return config_path_.empty() ? fallback : ReadProfileInt(config_path_, kCommonSection, key, fallback);
  };
  const int pcm = remembered(kPcmFormatKey, bwf);
  const int mpeg = remembered(kMpegFormatKey, bwf);
  pcm_format_->setCurrentIndex(pcm >= 0 && pcm < pcm_format_->count() ? pcm : bwf);
  mpeg_format_->setCurrentIndex(mpeg >= 0 && mpeg < mpeg_format_->count() ? mpeg : bwf);
  sha1_->setChecked(remembered(kSha1Key, 0) != 0);
  grid->addWidget(new QLabel("PCM:", this), 0, 0);
  grid->addWidget(pcm_format_, 0, 1);
  grid->addWidget(new QLabel("MPEG:", this), 1, 0);
  grid->addWidget(mpeg_format_, 1, 1);
  grid->addWidget(sha1_, 2, 0, 1, 2);
  grid->setColumnStretch(2, 1);
  layout->addLayout(grid);

  connect(list_, &CLocalFileList::openFolder, this, &CDlgCopyHDD::OpenFolder);
  connect(location_, &CLocationCombo::openFolder, this, &CDlgCopyHDD::OpenFolder);
  connect(up, &QPushButton::clicked, this, &CDlgCopyHDD::OpenParent);
  connect(make, &QPushButton::clicked, this, &CDlgCopyHDD::AskNewFolder);
  connect(pcm_format_, &QComboBox::currentIndexChanged, this, &CDlgCopyHDD::SaveChoices);
  connect(mpeg_format_, &QComboBox::currentIndexChanged, this, &CDlgCopyHDD::SaveChoices);
  connect(sha1_, &QCheckBox::toggled, this, &CDlgCopyHDD::SaveChoices);
  // The folder used last is not looked at here: it may be on a volume that
  // does not answer. One that cannot be read gives way to the home folder.
  const QString home = QString::fromStdString(HomeFolder());
  const QString start = config_path_.empty()
                            ? home
                            : QString::fromStdString(ReadProfileString(
                                  config_path_, kCommonSection, kCopyPathKey, HomeFolder(), kPathBuffer));
  connect(list_, &CLocalFileList::browsed, this, [this, home](const QString& folder, bool readable) {
    if (start_checked_) return;
    start_checked_ = true;
    if (!readable && folder != home) {
      list_->Browse(home);
      location_->ShowPath(list_->Folder());
    }
  });
  list_->Browse(start.isEmpty() ? home : start);
  location_->ShowPath(list_->Folder());
}

void CDlgCopyHDD::OpenFolder(const QString& path) {
  start_checked_ = true;
  list_->Browse(path);
  location_->ShowPath(list_->Folder());
  WriteCopyPath(config_path_, list_->Folder().toStdString());
}

void CDlgCopyHDD::OpenParent() {
  const std::vector<std::string> parents = ParentFolders(list_->Folder().toStdString());
  if (!parents.empty()) OpenFolder(QString::fromStdString(parents.front()));
}

bool CDlgCopyHDD::MakeFolder(const QString& name) {
  const QString trimmed = name.trimmed();
  if (trimmed.isEmpty() || trimmed == "." || trimmed == ".." || trimmed.contains('/')) return false;
  const std::string path = QDir(list_->Folder()).filePath(trimmed).toStdString();
  ReadOffGuiThread(
      this,
      [this, path]() -> ReadDelivery {
        const bool made = ::mkdir(path.c_str(), 0777) == 0 || errno == EEXIST;
        const QString reason = made ? QString() : QString::fromLocal8Bit(std::strerror(errno));
        return [this, path, made, reason] {
          const QString folder = QString::fromStdString(path);
          if (made) {
            OpenFolder(folder);
            return;
          }
          QMessageBox::warning(this, "New Folder", QString("%1 could not be made: %2").arg(folder, reason));
        };
      },
      CLocalFileList::kReadBoundMs);
  return true;
}

void CDlgCopyHDD::AskNewFolder() {
  bool ok = false;
  const QString name = QInputDialog::getText(this, "New Folder", "Name of the new folder:", QLineEdit::Normal,
                                             kNewFolderName, &ok);
  if (ok) MakeFolder(name);
}

void CDlgCopyHDD::SaveChoices() {
  if (config_path_.empty()) return;
  WriteProfileString(config_path_, kCommonSection, kPcmFormatKey,
                     std::to_string(pcm_format_->currentIndex()));
  WriteProfileString(config_path_, kCommonSection, kMpegFormatKey,
                     std::to_string(mpeg_format_->currentIndex()));
  WriteProfileString(config_path_, kCommonSection, kSha1Key, sha1_->isChecked() ? "1" : "0");
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
