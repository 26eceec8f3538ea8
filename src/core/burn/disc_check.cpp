#include "burn/disc_check.h"

#include <sys/statvfs.h>

namespace lyr::burn {
namespace {

constexpr const char* kErasePlusRw =
    "The disk is DVD+RW, Are you sure to ease the disk?\nIt won't be possible to recover the deleted data!";
constexpr const char* kEraseRewritable =
    "The disk is rewritable, Are you sure to ease the disk?\nIt won't be possible to recover the deleted "
    "data!";

int Refuse(JobReporter& ui, const char* text, MessageIcon icon) {
  // A cancelled check ends without a word: the cancel is reported by its owner.
  if (!ui.CancelRequested()) ui.Message(text, "Error", icon);
  return 0;
}

// The writer's waits of the check end with the check's cancel.
class CancelWiring {
 public:
  CancelWiring(BurnerTools& tools, JobReporter& ui) : tools_(tools) {
    tools_.SetCancelCheck([&ui] { return ui.CancelRequested(); });
  }
  ~CancelWiring() { tools_.SetCancelCheck({}); }
  CancelWiring(const CancelWiring&) = delete;
  CancelWiring& operator=(const CancelWiring&) = delete;

 private:
  BurnerTools& tools_;
};

}  // namespace

int CheckDisc(BurnerTools& tools, uint32_t device, uint64_t required_bytes, bool cd_only,
              const std::string& temp_folder, JobReporter& ui, uint32_t* disc_kind) {
  if (device == kNoDevice) return Refuse(ui, "There is no CD Recorder available.", MessageIcon::Error);
  const CancelWiring wiring(tools, ui);
  uint32_t read_caps = 0, write_caps = 0;
  if (tools.GetDriveCapabilities(device, &read_caps, &write_caps) != 0)
    return Refuse(ui, "The CD Recorder seleted is not working properly.", MessageIcon::Error);
  uint32_t kind = 0;
  uint64_t free_bytes = 0;
  if (tools.QueryDiscInfo(device, &kind, &free_bytes) != 0)
    return Refuse(ui, "Checking CD error.", MessageIcon::Error);
  if (disc_kind != nullptr) *disc_kind = kind;
  if (kind == 0) return Refuse(ui, "No disk or wrong disk.", MessageIcon::Warning);
  if ((write_caps & kind) == 0)
    return Refuse(ui, "The disk is not writable by CD recorder selected.", MessageIcon::Warning);
  if (cd_only && (kind & kMediaCdKinds) == 0)
    return Refuse(ui, "The disk is not a CD-R or CD-RW.", MessageIcon::Warning);
  if (kind == MEDIA_DVDPLUSRW && !ui.Ask(kErasePlusRw, "Warning")) return 0;
  struct statvfs fs {};
  if (::statvfs(temp_folder.c_str(), &fs) != 0 ||
      static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize < required_bytes) {
    ui.Message("There is no enough place in disk store temporary files.", "Warning", MessageIcon::Warning);
    return 0;
  }
  if (required_bytes <= free_bytes) return 1;
  if ((kind & kMediaRewritableKinds) != 0 && kind != MEDIA_DVDPLUSRW) {
    if (!ui.Ask(kEraseRewritable, "Warning") || ui.CancelRequested()) return 0;
    if (tools.BlankDisc(device, 0) != 0)
      return Refuse(ui, "The CD Recorder seleted is not working properly.", MessageIcon::Error);
    if (tools.QueryDiscInfo(device, &kind, &free_bytes) != 0)
      return Refuse(ui, "Checking CD error.", MessageIcon::Error);
    if (disc_kind != nullptr) *disc_kind = kind;
    if (required_bytes <= free_bytes) return 1;
  }
  return Refuse(ui, "There is no enough place in CD.", MessageIcon::Warning);
}

}  // namespace lyr::burn
