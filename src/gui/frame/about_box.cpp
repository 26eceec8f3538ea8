#include "gui/frame/about_box.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "gui/frame/app_icon.h"
#include "lyr_version.h"

namespace lyr {

std::string AboutVersionText(const std::string& file_version) {
  if (file_version.empty()) return {};
  std::string digits;
  for (char c : file_version)
    if (c != ',' && c != ' ') digits += c;
  return "V " + digits;
}

CAboutBox::CAboutBox(QWidget* parent) : QDialog(parent) {
  setObjectName("aboutBox");
  setWindowTitle("TORVI LYR INFORMATION");
  auto* icon = new QLabel(this);
  icon->setPixmap(AppIcon().pixmap(64, 64));
  auto* name = new QLabel("<b>TORVI LYR</b>", this);
  version_ = new QLabel(QString::fromStdString(AboutVersionText(LYR_FILE_VERSION)), this);
  version_->setObjectName("versionText");
  date_ = new QLabel(LYR_BUILD_DATE, this);
  date_->setObjectName("dateText");
  auto* texts = new QVBoxLayout;
  texts->addWidget(name);
  texts->addWidget(version_);
  texts->addWidget(date_);
  auto* top = new QHBoxLayout;
  top->addWidget(icon);
  top->addSpacing(12);
  top->addLayout(texts);
  top->addStretch();
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(buttons);
  setFixedSize(sizeHint().expandedTo(QSize(300, 0)));
}

QString CAboutBox::VersionText() const { return version_->text(); }
QString CAboutBox::DateText() const { return date_->text(); }

}  // namespace lyr
