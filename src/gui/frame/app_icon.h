#pragma once
#include <QIcon>

namespace lyr {

// The program's icon, drawn like src/res/lyr-manager.svg (which the desktop
// uses), so that no image plugin is needed at run time.
QIcon AppIcon();

}  // namespace lyr
