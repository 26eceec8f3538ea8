#pragma once
#include <string>
#include <vector>

#include "commands.h"
#include "recordings/recording_catalogue.h"

namespace lyrctl {

// The recordings list as the player panel shows it, every row filled.
// Throws CommandFailure when it cannot be read.
void LoadWholeCatalogue(lyr::RecordingCatalogue& catalogue);

// The rows a command works on, in list order: every row with `all`, else the
// rows named by entry number or recording name. An unknown name or entry is
// an error: nothing is done unless every one is listed.
std::vector<const lyr::RecordingRow*> SelectRecordings(const lyr::RecordingCatalogue& catalogue, bool all,
                                                       const std::vector<std::string>& wanted);

}  // namespace lyrctl
