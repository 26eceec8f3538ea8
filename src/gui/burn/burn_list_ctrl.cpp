#include "gui/burn/burn_list_ctrl.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QStyle>

#include "platform/last_error.h"

namespace lyr {
namespace {

constexpr int kNameRole = Qt::UserRole + 1;  // the name the tree holds

std::string CutExtension(const std::string& name) {
  const size_t dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

bool SameIgnoringCase(const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

}  // namespace

CBurnListBase::CBurnListBase(QWidget* parent) : QTreeWidget(parent) {
  setColumnCount(3);
  setHeaderLabels({"Name", "Duration", "Size"});
  setRootIsDecorated(false);
  setUniformRowHeights(true);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  header()->setStretchLastSection(false);
}

void CBurnListBase::resizeEvent(QResizeEvent* event) {
  QTreeWidget::resizeEvent(event);
  const int third = viewport()->width() / 3;
  for (int c = 0; c < 3; ++c) setColumnWidth(c, third);
}

burn::BURN_FILE BurnFileFromRecord(const RecordingRecord& record) {
  burn::BURN_FILE file;
  file.entry = record.Entry();
  file.duration = RecordingDurationSeconds(record);
  file.size = record.DataSize();
  file.name = CutExtension(record.Name());
  return file;
}

QString DurationText(uint32_t seconds) {
  return QString::asprintf("%02d:%02d:%02d", static_cast<int>(seconds / 3600),
                           static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
}

CListCtrlBurnData::CListCtrlBurnData(QWidget* parent) : CBurnListBase(parent) {
  setObjectName("burnList");
  setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
  connect(this, &QTreeWidget::itemChanged, this, &CListCtrlBurnData::OnItemChanged);
  connect(this, &QTreeWidget::itemDoubleClicked, this, &CListCtrlBurnData::OnDoubleClicked);
}

QTreeWidgetItem* CListCtrlBurnData::AddFolderRow(const std::string& name, int at) {
  filling_ = true;
  auto* item = new QTreeWidgetItem;
  item->setIcon(0, style()->standardIcon(QStyle::SP_DirIcon));  // image 3
  item->setText(0, QString::fromStdString(name));
  item->setData(0, kNameRole, QString::fromStdString(name));
  item->setText(1, "FOLDER");
  item->setData(0, Qt::UserRole, 0u);
  item->setFlags(item->flags() | Qt::ItemIsEditable);
  if (at < 0)
    addTopLevelItem(item);
  else
    insertTopLevelItem(at, item);
  filling_ = false;
  return item;
}

QTreeWidgetItem* CListCtrlBurnData::AddFileRow(const burn::BURN_FILE& file) {
  filling_ = true;
  auto* item = new QTreeWidgetItem;
  item->setIcon(0, style()->standardIcon(QStyle::SP_FileIcon));  // image 5
  item->setText(0, QString::fromStdString(file.name));
  item->setData(0, kNameRole, QString::fromStdString(file.name));
  item->setText(1, DurationText(file.duration));
  item->setText(2, QString::asprintf("%u", file.size));
  item->setData(0, Qt::UserRole, file.entry);
  item->setFlags(item->flags() | Qt::ItemIsEditable);
  addTopLevelItem(item);
  filling_ = false;
  return item;
}

bool CListCtrlBurnData::AddRecording(const burn::BURN_FILE& file) {
  const Result<std::string> added = burn::BurnLayout(tree_).AddFile("", file);
  if (!added) return false;
  burn::BURN_FILE shown = file;
  shown.name = added.value();
  AddFileRow(shown);
  emit layoutChanged();
  return true;
}

void CListCtrlBurnData::NewFolder() {
  const Result<std::string> made = burn::BurnLayout(tree_).CreateFolder("New Directory");
  if (!made) return;
  const std::string& final_name = made.value();
  int folders = 0;
  while (folders < topLevelItemCount() && topLevelItem(folders)->data(0, Qt::UserRole).toUInt() == 0)
    ++folders;
  QTreeWidgetItem* item = AddFolderRow(final_name, folders);
  setCurrentItem(item);
  editItem(item, 0);
}

void CListCtrlBurnData::DeleteSelected() {
  QList<QTreeWidgetItem*> rows = selectedItems();
  std::sort(rows.begin(), rows.end(), [this](QTreeWidgetItem* a, QTreeWidgetItem* b) {
    return indexOfTopLevelItem(a) > indexOfTopLevelItem(b);
  });
  bool changed = false;
  for (QTreeWidgetItem* item : rows) {
    const uint32_t entry = item->data(0, Qt::UserRole).toUInt();
    const QString name = item->data(0, kNameRole).toString();
    if (entry != 0) {
      if (!burn::BurnLayout(tree_).DeleteFile("", entry)) continue;
    } else {
      const QString text = QString("Are you sure to remove the \"%1\" folder?").arg(name);
      if (QMessageBox::question(this, "Warning", text, QMessageBox::Yes | QMessageBox::No) !=
          QMessageBox::Yes)
        continue;
      if (!burn::BurnLayout(tree_).DeleteFolder(name.toStdString())) continue;
    }
    delete item;
    changed = true;
  }
  if (changed) emit layoutChanged();
}

bool CListCtrlBurnData::ShowFolder(const std::string& path) {
  if (!burn::BurnLayout(tree_).SetCurrentFolder(path)) return false;
  RefillRows();
  emit layoutChanged();
  return true;
}

void CListCtrlBurnData::RefillRows() {
  clear();
  const burn::BURN_FOLDER& folder = tree_.CurrentFolder();
  for (const auto& child : folder.children) AddFolderRow(child->name);
  for (const auto& file : folder.files) AddFileRow(file);
}

void CListCtrlBurnData::Clear() {
  clear();
  tree_.Clear();
  emit layoutChanged();
}

void CListCtrlBurnData::RenameRow(QTreeWidgetItem* item) {
  if (item != nullptr) editItem(item, 0);
}

void CListCtrlBurnData::OnItemChanged(QTreeWidgetItem* item, int column) {
  if (filling_ || column != 0) return;
  const QString old_name = item->data(0, kNameRole).toString();
  const QString typed = item->text(0);
  auto restore = [&](const QString& text) {
    filling_ = true;
    item->setText(0, text);
    filling_ = false;
  };
  if (typed.isEmpty() || old_name.isEmpty() || SameIgnoringCase(typed, old_name)) {
    restore(old_name);
    return;
  }
  // The extension is not the user's to set.
  const std::string new_name = CutExtension(typed.toStdString());
  const uint32_t entry = item->data(0, Qt::UserRole).toUInt();
  burn::BurnLayout layout(tree_);
  const Status renamed = entry == 0 ? layout.RenameFolder(old_name.toStdString(), new_name)
                                    : layout.RenameFile(old_name.toStdString(), entry, new_name);
  if (!renamed) {
    restore(old_name);
    ShowRenameError(old_name.toStdString(), renamed.error().code);
    return;
  }
  filling_ = true;
  item->setText(0, QString::fromStdString(new_name));
  item->setData(0, kNameRole, QString::fromStdString(new_name));
  filling_ = false;
}

void CListCtrlBurnData::ShowRenameError(const std::string& old_name, uint32_t code) {
  QString text;
  switch (code) {
    case 3:
      text = "the path can't be found!";
      break;
    case 10:
      text = "The name can't have one of the chars \\ / : * ? \" < > |";
      break;
    case 183:
      text = QString("Can't rename \"%1\":The name is in used. Please choose another name.")
                 .arg(QString::fromStdString(old_name));
      break;
    default:
      return;
  }
  QMessageBox::critical(this, "Error", text);
}

void CListCtrlBurnData::OnDoubleClicked(QTreeWidgetItem* item) {
  if (item == nullptr || item->data(0, Qt::UserRole).toUInt() != 0) return;
  emit openFolder(item->data(0, kNameRole).toString());
}

void CListCtrlBurnData::contextMenuEvent(QContextMenuEvent* event) {
  QTreeWidgetItem* item = itemAt(viewport()->mapFrom(this, event->pos()));
  QMenu menu(this);
  menu.setObjectName("BURNLIST_OPER");
  QAction* rename = menu.addAction("Rename");
  rename->setData(kRenameCommand);
  QAction* remove = menu.addAction("Delete");
  remove->setData(kDeleteCommand);
  rename->setEnabled(item != nullptr);
  remove->setEnabled(!selectedItems().isEmpty());
  QAction* chosen = menu.exec(event->globalPos());
  if (chosen == rename)
    RenameRow(item);
  else if (chosen == remove)
    DeleteSelected();
}

void CListCtrlBurnData::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Delete && state() != QAbstractItemView::EditingState) {
    DeleteSelected();
    return;
  }
  CBurnListBase::keyPressEvent(event);
}

}  // namespace lyr
