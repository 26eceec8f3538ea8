#include "gui/frame/empty_state.h"

#include <QLabel>
#include <QVBoxLayout>

namespace lyr {
namespace {

constexpr char kConnectHelp[] =
    "Connect the LYR to this computer with its USB cable and switch it on.\n"
    "It is found by itself within a few seconds; its recordings then show here.\n"
    "A LYR that is plugged in but not found: unplug it and plug it in again.";

}  // namespace

CEmptyState::CEmptyState(QWidget* parent) : QWidget(parent) {
  setObjectName("emptyState");
  auto* layout = new QVBoxLayout(this);
  headline_ = new QLabel(this);
  headline_->setObjectName("emptyStateHeadline");
  headline_->setAlignment(Qt::AlignCenter);
  headline_->setWordWrap(true);
  QFont big = headline_->font();
  big.setPointSizeF(big.pointSizeF() * 1.8);
  big.setBold(true);
  headline_->setFont(big);
  help_ = new QLabel(kConnectHelp, this);
  help_->setObjectName("emptyStateHelp");
  help_->setAlignment(Qt::AlignCenter);
  help_->setWordWrap(true);
  layout->addStretch(2);
  layout->addWidget(headline_);
  layout->addSpacing(16);
  layout->addWidget(help_);
  layout->addStretch(3);
}

void CEmptyState::SetHeadline(const QString& text) { headline_->setText(text); }
QString CEmptyState::Headline() const { return headline_->text(); }
QString CEmptyState::Help() const { return help_->text(); }

}  // namespace lyr
