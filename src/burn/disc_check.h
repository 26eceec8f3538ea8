#pragma once
// The check before every burn: a writer, a disc of a kind it writes (a CD for
// an audio CD), room for the temporary files and room on the disc, blanking a
// rewritable disc when it is too full and the user agrees. Messages and
// questions go to `ui`.
#include <cstdint>
#include <string>

#include "burn/burner_tools.h"
#include "job/job_reporter.h"

namespace lyr::burn {

// The device value that stands for "no writer selected".
inline constexpr uint32_t kNoDevice = 0xFFFFFFFF;

// 1 when the burn may start (the disc kind in `disc_kind`), 0 after a message.
int CheckDisc(BurnerTools& tools, uint32_t device, uint64_t required_bytes, bool cd_only,
              const std::string& temp_folder, JobReporter& ui, uint32_t* disc_kind);

}  // namespace lyr::burn
