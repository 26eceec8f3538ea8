#pragma once
#include <QComboBox>
#include <QString>
#include <QTreeWidget>
#include <string>

#include "gui/common/tab_page.h"
#include "transfer/transfer_jobs.h"

class QCheckBox;

namespace lyr {

// The PC folder list of the copy page: "Name", "Type", "Size", "Date".
// A double click on a folder row opens that folder.
class CLocalFileList : public QTreeWidget {
  Q_OBJECT
 public:
  explicit CLocalFileList(QWidget* parent = nullptr);
  // Lists `folder`; false (rows removed) when it cannot be read.
  bool Browse(const QString& folder);
  const QString& Folder() const { return folder_; }

 signals:
  void openFolder(const QString& path);

 private:
  QString folder_;
};

// The PC location combo: the home folder, the mounted volumes and "/";
// choosing one opens it. It shows the folder the list shows.
class CLocationCombo : public QComboBox {
  Q_OBJECT
 public:
  explicit CLocationCombo(QWidget* parent = nullptr);
  void Fill();
  void ShowPath(const QString& path);

 signals:
  void openFolder(const QString& path);
};

// The "HDD" page: where and how the copy command saves recordings.
class CDlgCopyHDD : public CKVBTabPage {
  Q_OBJECT
 public:
  // `config_path`: cfgfile.ini, where the folder used last is kept (key
  // Copy_Path of section common); empty keeps nothing.
  explicit CDlgCopyHDD(const std::string& config_path, QWidget* parent = nullptr);

  bool IsBurnPage() const override { return false; }

  // The folder shown and the format choices, for the copy command.
  CopyOptions Options() const;
  // Lists the folder shown again (after a copy).
  void Reread();
  // Opens a folder in the list and the combo and remembers it.
  void OpenFolder(const QString& path);

 private:
  std::string config_path_;
  CLocationCombo* location_ = nullptr;
  CLocalFileList* list_ = nullptr;
  QComboBox* pcm_format_ = nullptr;
  QComboBox* mpeg_format_ = nullptr;
  QCheckBox* sha1_ = nullptr;
};

// Key Copy_Path of section common, or the home folder.
std::string ReadCopyPath(const std::string& config_path);
int WriteCopyPath(const std::string& config_path, const std::string& folder);

}  // namespace lyr
