#pragma once
#include <QWidget>

class QLabel;

namespace lyr {

// The window's client while no recorder is linked: what the connection pane
// says, large, and how to connect one, so that a start without a recorder
// shows a window that says what to do.
class CEmptyState : public QWidget {
  Q_OBJECT
 public:
  explicit CEmptyState(QWidget* parent = nullptr);

  void SetHeadline(const QString& text);
  QString Headline() const;
  QString Help() const;

 private:
  QLabel* headline_ = nullptr;
  QLabel* help_ = nullptr;
};

}  // namespace lyr
