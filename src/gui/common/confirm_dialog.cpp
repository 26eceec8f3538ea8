#include "gui/common/confirm_dialog.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

namespace lyr {

CConfirmDialog::CConfirmDialog(const QString& title, const QString& message, const QString& information,
                               QWidget* parent)
    : QDialog(parent) {
  setObjectName(QStringLiteral("confirm_dialog"));
  setWindowTitle(title);
  auto* grid = new QGridLayout(this);
  auto* text = new QLabel(message, this);
  text->setObjectName(QStringLiteral("message"));
  // The texts carry their own line breaks; wrapping the narrow dialog
  // broke them again between a figure and its unit ("Free 1838 / MB").
  text->setWordWrap(false);
  QFont bold = text->font();
  bold.setBold(true);
  bold.setPointSizeF(bold.pointSizeF() * 1.2);
  text->setFont(bold);
  auto* info = new QLabel(information, this);
  info->setObjectName(QStringLiteral("information"));
  info->setWordWrap(false);
  QPalette red = info->palette();
  red.setColor(QPalette::WindowText, QColor(0xC0, 0x00, 0x00));
  info->setPalette(red);
  grid->addWidget(text, 0, 0, 1, 3);
  grid->addWidget(info, 1, 0, 1, 3);

  // Two push-like radio buttons, "Cancel" first.
  cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
  cancel_->setObjectName(QStringLiteral("cancel"));
  yes_ = new QPushButton(QStringLiteral("Yes"), this);
  yes_->setObjectName(QStringLiteral("yes"));
  auto* group = new QButtonGroup(this);
  for (QPushButton* b : {cancel_, yes_}) {
    b->setCheckable(true);
    b->setAutoDefault(false);
    group->addButton(b);
  }
  group->setExclusive(true);
  cancel_->setChecked(true);
  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName(QStringLiteral("ok"));
  ok->setDefault(true);
  grid->addWidget(cancel_, 2, 0);
  grid->addWidget(yes_, 2, 1);
  grid->addWidget(ok, 2, 2);
  connect(ok, &QPushButton::clicked, this, [this] { done(yes_->isChecked() ? kYes : kCancel); });
}

int CConfirmDialog::Run(QWidget* parent, const QString& title, const QString& message,
                        const QString& information) {
  CConfirmDialog dialog(title, message, information, parent);
  return dialog.exec();
}

}  // namespace lyr
