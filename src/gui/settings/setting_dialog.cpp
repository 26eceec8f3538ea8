#include "gui/settings/setting_dialog.h"

#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace lyr {

CSettingDialog::CSettingDialog(const QString& folder, QWidget* parent) : QDialog(parent), folder_(folder) {
  setObjectName(QStringLiteral("setting_dialog"));
  setWindowTitle(QStringLiteral("SETTING"));
  auto* grid = new QGridLayout(this);
  grid->addWidget(new QLabel(QStringLiteral("Temporary Files"), this), 0, 0, 1, 2);
  edit_ = new QLineEdit(folder_, this);
  edit_->setObjectName(QStringLiteral("temporary_files"));
  edit_->setReadOnly(true);
  edit_->setMinimumWidth(edit_->fontMetrics().horizontalAdvance(QLatin1Char('x')) * 48);
  grid->addWidget(edit_, 1, 0);
  auto* browse = new QPushButton(QStringLiteral("Browse"), this);
  browse->setObjectName(QStringLiteral("browse"));
  browse->setAutoDefault(false);
  grid->addWidget(browse, 1, 1);
  auto* apply = new QPushButton(QStringLiteral("Apply"), this);
  apply->setObjectName(QStringLiteral("apply"));
  apply->setAutoDefault(false);
  grid->addWidget(apply, 2, 1);
  connect(browse, &QPushButton::clicked, this, &CSettingDialog::Browse);
  connect(apply, &QPushButton::clicked, this, [this] { emit applied(folder_); });
}

void CSettingDialog::Browse() {
  if (browsing_) return;
  browsing_ = true;
  emit busyChanged(true);
  const QString chosen = QFileDialog::getExistingDirectory(this, kBrowseTitle, folder_);
  browsing_ = false;
  emit busyChanged(false);
  // A cancelled browse leaves the folder as it was.
  if (chosen.isEmpty()) return;
  folder_ = chosen;
  edit_->setText(folder_);
}

void CSettingDialog::CloseBrowser() {
  for (QFileDialog* browser : findChildren<QFileDialog*>()) browser->reject();
}

void CSettingDialog::Run(QWidget* parent, const QString& folder,
                         const std::function<void(const QString&)>& apply) {
  CSettingDialog dialog(folder, parent);
  connect(&dialog, &CSettingDialog::applied, &dialog, [&apply](const QString& f) { apply(f); });
  dialog.exec();
}

}  // namespace lyr
