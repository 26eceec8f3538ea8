#pragma once
#include <QWidget>
#include <cstdint>
#include <vector>

namespace lyr {

// A page of the Copy/Burn panel ("Data CD", "Audio CD", "HDD").
class CKVBTabPage : public QWidget {
  Q_OBJECT
 public:
  using QWidget::QWidget;

  // Whether the page burns discs (the player panel's button and context menu
  // follow the page the panel shows).
  virtual bool IsBurnPage() const = 0;
  // "Add to Burn-list": recordings chosen in the play list, top to bottom,
  // handed to the page the panel shows. The page reads their records off the
  // GUI thread; the copy page takes none.
  virtual void AddRecordings(const std::vector<uint32_t>& entries);
};

}  // namespace lyr
