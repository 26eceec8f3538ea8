#pragma once
#include <QKeySequence>

#include "gui/settings/settings_page.h"

class QLabel;
class QMessageBox;

namespace lyr {

// MACHINE INFORMATION: the firmware version and the memory figures. Ctrl+
// Shift+F12 shows the hardware and MCU versions.
class CMachineInfoPage : public CSettingsPage {
  Q_OBJECT

 public:
  static inline const QKeySequence kVersionKeys{Qt::CTRL | Qt::SHIFT | Qt::Key_F12};

  CMachineInfoPage(lyr::RecorderModel& model, lyr::RecorderLink& link, lyr::TaskQueue& worker,
                   QWidget* parent = nullptr);

  void LoadFromModel() override {}
  void Prepare() override {}
  void Show() override;

  QString SoftwareVersionText() const;
  QString MemoryText() const;
  // The hardware and MCU version text of the hidden box.
  QString HardwareVersionText() const;
  // Shows the hidden box (not modal to the application; it closes itself).
  QMessageBox* ShowHardwareVersions();

 private:
  QLabel* version_ = nullptr;
  QLabel* memory_ = nullptr;
};

}  // namespace lyr
