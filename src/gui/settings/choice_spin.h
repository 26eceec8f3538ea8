#pragma once
#include <QSpinBox>
#include <vector>

namespace lyr {

// A single-line list with its up-down control: the spin position is the
// index of the item shown, from 0 to the item count - 1; each item keeps a
// number as its value.
class CChoiceSpin : public QSpinBox {
  Q_OBJECT

 public:
  explicit CChoiceSpin(QWidget* parent = nullptr);

  // Items from `first` to `last`, each shown with `format` (one %d).
  void Fill(int first, int last, const char* format);
  int Count() const { return static_cast<int>(items_.size()); }
  QString ItemText(int index) const;
  // Shows the first item whose value is `value`; false (nothing changes)
  // when there is none.
  bool SelectValue(int value);
  // The value of the item shown.
  int SelectedValue() const;
  // Emitted when the user moves the spin (not when the page selects).
  Q_SIGNAL void userChanged(int position);

 protected:
  QString textFromValue(int value) const override;
  int valueFromText(const QString& text) const override;
  QValidator::State validate(QString& input, int& pos) const override;

 private:
  struct Item {
    QString text;
    int value;
  };
  std::vector<Item> items_;
};

}  // namespace lyr
