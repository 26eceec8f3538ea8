#include "gui/settings/machine_info_page.h"

#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QShortcut>

#include "link/recorder_link.h"

namespace lyr {

CMachineInfoPage::CMachineInfoPage(lyr::RecorderModel& model, lyr::RecorderLink& link, lyr::TaskQueue& worker,
                                   QWidget* parent)
    : CSettingsPage(model, link, worker, QStringLiteral("MACHINE INFORMATION"), false, parent) {
  setObjectName(QStringLiteral("machine_info_page"));
  auto* grid = new QGridLayout(Body());
  version_ = new QLabel(Body());
  version_->setObjectName(QStringLiteral("software_version"));
  memory_ = new QLabel(Body());
  memory_->setObjectName(QStringLiteral("memory"));
  int row = 0;
  for (auto [caption, label] : {std::pair{"Software version", version_}, std::pair{"Memory", memory_}}) {
    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    label->setTextFormat(Qt::PlainText);
    label->setMinimumWidth(label->fontMetrics().horizontalAdvance(
        QStringLiteral("99999.99 GB, Free 99999999.99 MB - Used 99999999.99 MB")));
    grid->addWidget(new QLabel(QString::fromLatin1(caption), Body()), row, 0);
    grid->addWidget(label, row++, 1);
  }
  auto* keys = new QShortcut(kVersionKeys, this);
  connect(keys, &QShortcut::activated, this, [this] { ShowHardwareVersions(); });
}

void CMachineInfoPage::Show() {
  if (model_ == nullptr || !link_.IsDriveOpen() || link_.IsRecorderRefused()) return;
  const lyr::MemoryFigures m = model_->Memory();
  memory_->setText(QString::asprintf(
      "%.2f GB, Free %.2f MB - Used %.2f MB", static_cast<double>(m.SizeBytes()) / (1ull << 30),
      static_cast<double>(m.FreeBytes()) / (1ull << 20), static_cast<double>(m.UsedBytes()) / (1ull << 20)));
  const int version = model_->FirmwareVersion();
  version_->setText(QString::asprintf("V%d.%03d", version / 1000, version % 1000));
}

QString CMachineInfoPage::SoftwareVersionText() const { return version_->text(); }
QString CMachineInfoPage::MemoryText() const { return memory_->text(); }

QString CMachineInfoPage::HardwareVersionText() const {
  const int word = recorder_model_.HardwareMcuVersion();
  const int mcu = word & 0xFF;
  return QString::fromUtf8("硬件版本号: V%1\nMCU版本号: V%2.%3").arg(word >> 8).arg(mcu / 10).arg(mcu % 10);
}

QMessageBox* CMachineInfoPage::ShowHardwareVersions() {
  auto* box = new QMessageBox(QMessageBox::NoIcon, QString::fromUtf8("信息"), HardwareVersionText(),
                              QMessageBox::Ok, this);
  box->setObjectName(QStringLiteral("hardware_versions"));
  // The same figures in the language of the other windows, beside the box's own.
  const int word = recorder_model_.HardwareMcuVersion();
  const int mcu = word & 0xFF;
  box->setInformativeText(
      QString("Hardware version: V%1\nMCU version: V%2.%3").arg(word >> 8).arg(mcu / 10).arg(mcu % 10));
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
  return box;
}

}  // namespace lyr
