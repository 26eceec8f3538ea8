#pragma once
#include <QComboBox>
#include <QString>
#include <QTreeWidget>
#include <string>

#include "gui/common/tab_page.h"
#include "transfer/transfer_jobs.h"

class QCheckBox;
class QFileSystemWatcher;
class QTimer;

namespace lyr {

// The PC folder list of the copy page: "Name", "Type", "Size", "Date".
// A double click or Enter on a folder row opens that folder. The folder is
// read off the GUI thread; one that does not answer within kReadBoundMs is
// shown as such. The list follows the folder on the disk while it is shown.
class CLocalFileList : public QTreeWidget {
  Q_OBJECT
 public:
  static constexpr int kReadBoundMs = 2000;
  // The row shown while a folder does not answer.
  static constexpr char kNotAnswering[] = "(this folder does not answer)";

  explicit CLocalFileList(QWidget* parent = nullptr);
  // Lists `folder`: the rows come once it has been read (`browsed`).
  void Browse(const QString& folder);
  const QString& Folder() const { return folder_; }

 signals:
  void openFolder(const QString& path);
  // `folder` was read: false when it could not be.
  void browsed(const QString& folder, bool readable);

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void OpenRow(QTreeWidgetItem* item);
  void Watch(const QString& folder);

  QString folder_;
  quint64 ticket_ = 0;  // the last Browse: an older answer is let fall
  QFileSystemWatcher* watcher_ = nullptr;
  QTimer* reread_ = nullptr;  // gathers a burst of changes into one read
};

// The PC location combo: the home folder, the mounted volumes and "/";
// choosing one opens it. It shows the folder the list shows and the folders
// above it. Each volume is looked at off the GUI thread: one the user cannot
// use goes, one that does not answer is shown as such.
class CLocationCombo : public QComboBox {
  Q_OBJECT
 public:
  static constexpr int kProbeBoundMs = 2000;
  explicit CLocationCombo(QWidget* parent = nullptr);
  // `mounts_file`: where the mounted volumes are listed.
  void Fill(const std::string& mounts_file = "/proc/self/mounts");
  void ShowPath(const QString& path);

 signals:
  void openFolder(const QString& path);

 private:
  void SetAnswering(const QString& path, bool answering);
};

// The "HDD" page: where and how the copy command saves recordings.
class CDlgCopyHDD : public CKVBTabPage {
  Q_OBJECT
 public:
  // `config_path`: cfgfile.ini, where the folder used last and the choices
  // are kept (section common); empty keeps nothing.
  explicit CDlgCopyHDD(const std::string& config_path, QWidget* parent = nullptr);

  bool IsBurnPage() const override { return false; }

  // The folder shown and the format choices, for the copy command.
  CopyOptions Options() const;
  // Lists the folder shown again (after a copy).
  void Reread();
  // Opens a folder in the list and the combo and remembers it.
  void OpenFolder(const QString& path);
  // The folder above the one shown.
  void OpenParent();
  // Makes a folder `name` in the one shown and opens it; false when the
  // name is no plain folder name. The folder is made off the GUI thread.
  bool MakeFolder(const QString& name);

 private:
  void AskNewFolder();
  void SaveChoices();

  std::string config_path_;
  CLocationCombo* location_ = nullptr;
  CLocalFileList* list_ = nullptr;
  QComboBox* pcm_format_ = nullptr;
  QComboBox* mpeg_format_ = nullptr;
  QCheckBox* sha1_ = nullptr;
  bool start_checked_ = false;  // the remembered folder has answered once
};

// Key Copy_Path of section common, or the home folder.
std::string ReadCopyPath(const std::string& config_path);
int WriteCopyPath(const std::string& config_path, const std::string& folder);

// A size as every page shows it: megabytes of 1,048,576 bytes, two decimals.
QString SizeText(uint64_t bytes);

}  // namespace lyr
