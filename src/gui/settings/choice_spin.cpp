#include "gui/settings/choice_spin.h"

#include <QLineEdit>
#include <QSignalBlocker>
#include <cstdio>

namespace lyr {

CChoiceSpin::CChoiceSpin(QWidget* parent) : QSpinBox(parent) {
  lineEdit()->setReadOnly(true);
  setWrapping(false);
  setRange(0, 0);
  connect(this, &QSpinBox::valueChanged, this, [this](int position) { emit userChanged(position); });
}

void CChoiceSpin::Fill(int first, int last, const char* format) {
  const QSignalBlocker quiet(this);
  items_.clear();
  for (int v = first; v <= last; ++v) {
    char text[32];
    std::snprintf(text, sizeof text, format, v);
    items_.push_back({QString::fromLatin1(text), v});
  }
  setRange(0, std::max(Count() - 1, 0));
  setValue(0);
  lineEdit()->setText(textFromValue(value()));
}

QString CChoiceSpin::ItemText(int index) const {
  return index >= 0 && index < Count() ? items_[index].text : QString();
}

bool CChoiceSpin::SelectValue(int value) {
  for (int i = 0; i < Count(); ++i) {
    if (items_[i].value != value) continue;
    const QSignalBlocker quiet(this);
    setValue(i);
    lineEdit()->setText(textFromValue(i));
    return true;
  }
  return false;
}

int CChoiceSpin::SelectedValue() const {
  const int i = value();
  return i >= 0 && i < Count() ? items_[i].value : 0;
}

QString CChoiceSpin::textFromValue(int value) const { return ItemText(value); }

int CChoiceSpin::valueFromText(const QString& text) const {
  for (int i = 0; i < Count(); ++i)
    if (items_[i].text == text) return i;
  return value();
}

QValidator::State CChoiceSpin::validate(QString& input, int&) const {
  for (const Item& item : items_)
    if (item.text == input) return QValidator::Acceptable;
  return QValidator::Intermediate;
}

}  // namespace lyr
