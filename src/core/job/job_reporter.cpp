#include "job/job_reporter.h"

namespace lyr {

bool JobReporter::Confirm(const std::string& /*title*/, const std::string& /*prompt*/,
                          const std::string& /*information*/) {
  return false;
}

bool JobReporter::AskAbout(const std::string& text, const std::string& caption,
                           const std::string& /*detail*/) {
  return Ask(text, caption);
}

void JobReporter::SetProgressText(int percent, const std::string& doing) {
  SetStatus(doing);
  SetProgress(percent);
}

}  // namespace lyr
