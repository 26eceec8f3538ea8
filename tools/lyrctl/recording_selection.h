#pragma once
#include <string>
#include <vector>

#include "commands.h"
#include "recordings/recording_catalogue.h"

namespace lyrctl {

// The recordings list as the player panel shows it, every row filled.
lyr::Status LoadWholeCatalogue(lyr::RecordingCatalogue& catalogue);

// The rows a command works on, in list order: every row with `all`, else the
// rows the arguments name. An argument is "entry:N" (the entry number),
// "name:TEXT" (the recording name), or either: an argument that is the entry
// of one recording and the name of another is refused as ambiguous, as is a
// name that several recordings carry. A name matches as the recorder holds it
// or as lyrctl shows it (UTF-8). An argument that names nothing is a usage
// error: nothing is done unless every one names exactly one recording.
lyr::Result<std::vector<const lyr::RecordingRow*>> SelectRecordings(const lyr::RecordingCatalogue& catalogue,
                                                                    bool all,
                                                                    const std::vector<std::string>& wanted);

}  // namespace lyrctl
