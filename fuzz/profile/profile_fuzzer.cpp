// cfgfile.ini is edited by hand: any bytes must parse, answer look-ups and
// load templates within bounded time and memory, and a write must keep every
// other line.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "settings/profile_file.h"
#include "settings/settings_templates.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > lyr::ProfileFile::kMaxFileSize) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  lyr::ProfileFile file;
  file.Parse(text);

  (void)file.GetString("common", "Temp_Path", "/tmp", 260);
  (void)file.GetInt("common", "FileFmtTemplateCount", 0);
  lyr::InputTemplateList inputs;
  lyr::FileFormatTemplateList formats;
  lyr::LoadTemplates(file, inputs, formats);
  if (inputs.size() > static_cast<size_t>(lyr::kMaxTemplateCount) ||
      formats.size() > static_cast<size_t>(lyr::kMaxTemplateCount))
    std::abort();

  // What we write back out parses to the same text again.
  const std::string once = file.Text();
  lyr::ProfileFile again;
  again.Parse(once);
  if (again.Text() != once) std::abort();

  // A write is read back, and the file stays one that parses to itself.
  lyr::SaveTemplates(file, inputs, formats);
  file.WriteString("common", "Temp_Path", "/var/tmp/x");
  if (file.GetString("common", "Temp_Path", "", 260) != "/var/tmp/x") std::abort();
  // (A long value replaced by a short one may shrink the file a lot, so the
  // size says nothing; what was written must parse back to itself.)
  lyr::ProfileFile written;
  written.Parse(file.Text());
  if (written.Text() != file.Text()) std::abort();
  return 0;
}
