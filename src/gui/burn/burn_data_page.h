#pragma once
// The "Data CD" page: the layout of the disc's folders and files, its
// location combo, the volume label, the export formats and the disc size.
#include <cstdint>
#include <vector>

#include "gui/burn/burn_list_ctrl.h"
#include "gui/burn/burn_page.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QSlider;
class QToolBar;

namespace lyr {

class CDlgBurnData : public CKVBBurnPage {
  Q_OBJECT
 public:
  CDlgBurnData(const BurnServices& services, QWidget* parent = nullptr);

  CListCtrlBurnData* Layout() const { return list_; }
  QComboBox* LocationCombo() const { return location_; }
  // The open-folder message: a folder of the current one, or a path from the root.
  void OpenFolder(const QString& path);
  void FolderUp();
  uint32_t LastDiscKind() const { return disc_kind_; }
  QString TotalSizeText() const;
  uint64_t RequiredBytes() const override;

 protected:
  QTreeWidget* List() const override;
  bool CdOnly() const override { return false; }
  bool AddRecord(const RecordingRecord& record) override;
  CBurnProgressDlg::Job MakeJob(uint32_t device, uint32_t disc_kind) override;

 private:
  void OnLayoutChanged();
  void FillLocation();
  void OnLocationChosen(int index);
  void OnDiscSize(int index);

  CListCtrlBurnData* list_ = nullptr;
  QToolBar* toolbar_ = nullptr;
  QComboBox* location_ = nullptr;
  QLineEdit* label_ = nullptr;
  QComboBox* pcm_format_ = nullptr;
  QComboBox* mpeg_format_ = nullptr;
  QCheckBox* sha1_ = nullptr;
  QComboBox* disc_size_ = nullptr;
  QSlider* size_bar_ = nullptr;
  QLabel* total_size_ = nullptr;
  uint32_t disc_kind_ = 0;
  bool filling_location_ = false;
};

}  // namespace lyr
