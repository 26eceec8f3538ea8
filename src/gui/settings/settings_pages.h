#pragma once
// The three recorder pages of the main frame, made hidden in the frame's page
// order: TIME & DATE (index 0), FILE TYPE (1), MACHINE INFORMATION (2). See
// settings_page.h for what the frame does with them.
#include <array>

#include "gui/settings/file_type_page.h"
#include "gui/settings/machine_info_page.h"
#include "gui/settings/time_date_page.h"

namespace lyr {

class CSettingsPages {
 public:
  CSettingsPages(lyr::RecorderModel& model, lyr::RecorderLink& link, lyr::TaskQueue& worker, QWidget* frame);

  CTimeDatePage* time_date = nullptr;
  CFileTypePage* file_type = nullptr;
  CMachineInfoPage* machine_info = nullptr;

  std::array<CSettingsPage*, 3> List() const { return {time_date, file_type, machine_info}; }
  // Shows a page (or brings it back) on top.
  static void ShowPage(CSettingsPage* page);
  // "Close all".
  void HideAll();
  // Whether a page's recorder command is under way.
  bool AnyBusy() const;
};

}  // namespace lyr
