#pragma once
#include <string>

namespace lyr {

// What the maintenance procedures see of the window they run behind: the
// desktop's message boxes, confirmation dialog and progress dialog, lyrctl's
// terminal, or a test. The texts and captions passed in are the ones to show.
class MaintenanceReporter {
 public:
  enum class Icon { Warning, Error, Information };

  virtual ~MaintenanceReporter() = default;
  virtual void Message(const std::string& text, const std::string& caption, Icon icon) = 0;
  // The shared confirmation dialog: a title, a prompt and an information
  // line; true only when the user chose "Yes" and pressed OK.
  virtual bool Confirm(const std::string& title, const std::string& prompt,
                       const std::string& information) = 0;
  // Progress of a long exchange, 0 to 100, with what is being done.
  virtual void SetProgress(int percent, const std::string& doing) = 0;
  // Polled where stopping leaves the recorder as it was.
  virtual bool CancelRequested() const = 0;
};

}  // namespace lyr
