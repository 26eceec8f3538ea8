#pragma once
#include <QDialog>

class QPushButton;

namespace lyr {

// The confirmation dialog of Format and Reset file counter: "Cancel" is
// chosen at the start; "OK" ends with 6 when "Yes" is chosen, else 2 (also
// when the dialog is closed).
class CConfirmDialog : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kYes = 6;
  static constexpr int kCancel = 2;

  CConfirmDialog(const QString& title, const QString& message, const QString& information,
                 QWidget* parent = nullptr);

  static int Run(QWidget* parent, const QString& title, const QString& message, const QString& information);

 public slots:
  void reject() override { done(kCancel); }

 private:
  QPushButton* cancel_ = nullptr;
  QPushButton* yes_ = nullptr;
};

}  // namespace lyr
