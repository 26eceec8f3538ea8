#include "app/ui/frame/frame_hosting.h"

#include <QLabel>

#include "app/ui/frame/main_frame.h"

namespace lyr {

// HOSTING POINT: the status panel and the settings pages are built beside
// the frame; until they are in, the dock holds an empty panel and the page
// commands show nothing.
void HostPanelsAndPages(CMainFrame& frame, FrameServices& /*services*/) {
  auto* panel = new QLabel(&frame);
  panel->setObjectName("statusPanelPlaceholder");
  panel->setMinimumHeight(60);
  frame.SetStatusPanel(panel);
}

}  // namespace lyr
