#pragma once

namespace lyr {

// For workers that must never take time from playback or the desktop:
// SCHED_IDLE where the system allows it, else the highest nice value.
// Applies to the calling thread.
void LowerThisThreadsPriority();

}  // namespace lyr
