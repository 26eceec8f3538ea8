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
// The writer's runs during the check (disc query, blanking) end when `ui`
// asks for cancel; a cancelled check ends with 0 and no message.
int CheckDisc(BurnerTools& tools, uint32_t device, uint64_t required_bytes, bool cd_only,
              const std::string& temp_folder, JobReporter& ui, uint32_t* disc_kind);

// The same check as the programs call it: the disc kind when the burn may
// start, else an error whose code is the last error the check set (0 when
// it named none: its message said why).
inline Result<uint32_t> CheckDisc(BurnerTools& tools, uint32_t device, uint64_t required_bytes, bool cd_only,
                                  const std::string& temp_folder, JobReporter& ui) {
  uint32_t disc_kind = 0;
  const Status checked = CallWithLastError(
      [&] { return CheckDisc(tools, device, required_bytes, cd_only, temp_folder, ui, &disc_kind) != 0; },
      "disc check");
  if (!checked) return checked.error();
  return disc_kind;
}

}  // namespace lyr::burn
