#pragma once
// Choice lists keep each item's value in its item data; selecting by value
// picks the first item whose data equals it, or none.
#include <QComboBox>
#include <QValidator>
#include <cstdint>

namespace lyr {

inline void AddChoice(QComboBox* list, const char* text, int64_t value) {
  list->addItem(QString::fromLatin1(text), QVariant::fromValue<qlonglong>(value));
}

// Returns whether an item was found; with none the list shows no choice.
inline bool SelectChoice(QComboBox* list, int64_t value) {
  const int index = list->findData(QVariant::fromValue<qlonglong>(value));
  list->setCurrentIndex(index);
  return index >= 0;
}

// The chosen item's value, or -1 with none.
inline int64_t ChoiceValue(const QComboBox* list) {
  return list->currentIndex() < 0 ? -1 : list->currentData().toLongLong();
}

// Accepts only text the recorder's 8-bit character set (Latin-1) holds, one
// byte a character, without control characters.
class Latin1TextValidator : public QValidator {
 public:
  using QValidator::QValidator;
  State validate(QString& input, int&) const override {
    for (const QChar c : input) {
      const char16_t u = c.unicode();
      if (u > 0xFF || u < 0x20 || (u >= 0x7F && u <= 0x9F)) return Invalid;
    }
    return Acceptable;
  }
};

}  // namespace lyr
