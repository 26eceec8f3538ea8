#pragma once
// The list controls of the burn pages: three columns ("Name", "Duration",
// "Size"), each a third of the width. CListCtrlBurnData shows one folder of
// a data disc's layout (CBurnTree): folder rows first, then file rows; a
// file row's data is its recording entry, a folder row's is 0.
#include <QTreeWidget>
#include <cstdint>
#include <string>

#include "burn/burn_tree.h"
#include "recordings/recording_record.h"

namespace lyr {

// A list with the burn lists' three columns.
class CBurnListBase : public QTreeWidget {
  Q_OBJECT
 public:
  explicit CBurnListBase(QWidget* parent = nullptr);

 protected:
  void resizeEvent(QResizeEvent* event) override;
};

// A recording's record as a file of a burn list: the name without its
// extension, the duration in whole seconds, the audio data size.
burn::BURN_FILE BurnFileFromRecord(const RecordingRecord& record);
// The duration column: "%02d:%02d:%02d".
QString DurationText(uint32_t seconds);

class CListCtrlBurnData : public CBurnListBase {
  Q_OBJECT
 public:
  static constexpr int kRenameCommand = 32905;
  static constexpr int kDeleteCommand = 32910;

  explicit CListCtrlBurnData(QWidget* parent = nullptr);

  // Adds the file to the current folder, with its row; false when the folder
  // holds that recording already or the name is not allowed.
  bool AddRecording(const burn::BURN_FILE& file);
  // "New Directory" in the current folder; its name is then edited.
  void NewFolder();
  void DeleteSelected();
  // Makes the folder current ("/" the root, "/A/B/" from the root, a name
  // from the current folder) and lists it.
  bool ShowFolder(const std::string& path);
  void Clear();
  void RenameRow(QTreeWidgetItem* item);

  burn::CBurnTree& Tree() { return tree_; }
  uint64_t TotalSize() const { return tree_.GetTotalSize(); }
  uint32_t FileCount() const { return tree_.GetFileCount(); }

 signals:
  // A folder row was double-clicked: its name.
  void openFolder(const QString& name);
  // Files were added or removed, or the current folder changed.
  void layoutChanged();

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  QTreeWidgetItem* AddFolderRow(const std::string& name, int at = -1);
  QTreeWidgetItem* AddFileRow(const burn::BURN_FILE& file);
  void OnItemChanged(QTreeWidgetItem* item, int column);
  void OnDoubleClicked(QTreeWidgetItem* item);
  void RefillRows();
  // `code` is why the rename failed (3, 10 or 183).
  void ShowRenameError(const std::string& old_name, uint32_t code);

  burn::CBurnTree tree_;
  bool filling_ = false;
};

}  // namespace lyr
