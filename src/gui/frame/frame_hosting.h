#pragma once

namespace lyr {

class CMainFrame;
struct FrameServices;

// Puts the status panel into the frame's dock and creates the pages in
// their order (date and time, file type, machine information), each told to
// the frame with the command that shows it.
void HostPanelsAndPages(CMainFrame& frame, FrameServices& services);

}  // namespace lyr
