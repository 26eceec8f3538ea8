#include "gui/settings/settings_pages.h"

namespace lyr {

CSettingsPages::CSettingsPages(lyr::RecorderModel& model, lyr::RecorderLink& link, lyr::TaskQueue& worker,
                               QWidget* frame)
    : time_date(new CTimeDatePage(model, link, worker, frame)),
      file_type(new CFileTypePage(model, link, worker, frame)),
      machine_info(new CMachineInfoPage(model, link, worker, frame)) {
  int index = 0;
  for (CSettingsPage* page : List()) page->SetPageIndex(index++);
}

void CSettingsPages::ShowPage(CSettingsPage* page) {
  page->setWindowState(page->windowState() & ~Qt::WindowMinimized);
  page->show();
  page->raise();
  page->activateWindow();
}

void CSettingsPages::HideAll() {
  for (CSettingsPage* page : List()) page->hide();
}

bool CSettingsPages::AnyBusy() const {
  for (const CSettingsPage* page : List())
    if (page->IsBusy()) return true;
  return false;
}

}  // namespace lyr
