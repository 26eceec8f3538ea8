// lyrctl drives: the disc writer and image maker found, and the optical
// drives the writer lists with what each reads and writes.
#include <cstdio>
#include <nlohmann/json.hpp>

#include "burn/burner_tools.h"
#include "burn/tool_output.h"
#include "commands.h"
#include "text_output.h"

namespace lyrctl {
namespace {

struct KindName {
  uint32_t bit;
  const char* name;
};
constexpr KindName kKinds[] = {
    {lyr::burn::MEDIA_CDROM, "CD-ROM"},         {lyr::burn::MEDIA_CDR, "CD-R"},
    {lyr::burn::MEDIA_CDRW, "CD-RW"},           {lyr::burn::MEDIA_DVDROM, "DVD-ROM"},
    {lyr::burn::MEDIA_DVDR, "DVD-R"},           {lyr::burn::MEDIA_DVDR_DL, "DVD-R/DL"},
    {lyr::burn::MEDIA_DVDRW, "DVD-RW"},         {lyr::burn::MEDIA_DVDPLUSR, "DVD+R"},
    {lyr::burn::MEDIA_DVDPLUSR_DL, "DVD+R/DL"}, {lyr::burn::MEDIA_DVDPLUSRW, "DVD+RW"},
    {lyr::burn::MEDIA_DVDRAM, "DVD-RAM"},
};

std::vector<std::string> KindNames(uint32_t bits) {
  std::vector<std::string> names;
  for (const auto& k : kKinds)
    if (bits & k.bit) names.push_back(k.name);
  return names;
}

std::string Joined(const std::vector<std::string>& names) {
  std::string text;
  for (const auto& n : names) text += (text.empty() ? "" : " ") + n;
  return text.empty() ? "-" : text;
}

lyr::Status RunDrives(const GlobalOptions& options) {
  lyr::burn::BurnerTools tools;
  tools.InitBurnerTools();
  if (tools.Writer() == lyr::burn::WriterKind::kNone)
    return Failure("no disc writer found: install cdrskin, wodim or cdrecord, or name one with LYR_CDRECORD",
                   lyr::kErrorFileNotFound);
  if (!lyr::burn::BurnerDrives(tools).ScanBurnerDrives()) {
    const std::string& said = tools.LastToolError();
    return Failure("the drive scan of " + LocalShownText(tools.WriterPath()) + " failed" +
                   (said.empty() ? "" : ": " + LocalShownText(said)));
  }
  const auto drives = tools.AllDrives();
  if (options.json) {
    nlohmann::json list = nlohmann::json::array();
    for (const auto& d : drives)
      list.push_back({{"address", lyr::burn::FormatDeviceAddress(d.device)},
                      {"name", LocalJsonText(d.name)},
                      {"writer", d.write_capabilities != 0},
                      {"reads", KindNames(d.read_capabilities)},
                      {"writes", KindNames(d.write_capabilities)},
                      {"read_capabilities", d.read_capabilities},
                      {"write_capabilities", d.write_capabilities}});
    PrintJson({{"writer", LocalJsonText(tools.WriterPath())},
               {"writer_kind", lyr::burn::WriterKindName(tools.Writer())},
               {"image_maker", LocalJsonText(tools.ImageMakerPath())},
               {"drives", list}});
    return {};
  }
  std::printf("Writer: %s (%s)\n", LocalShownText(tools.WriterPath()).c_str(),
              lyr::burn::WriterKindName(tools.Writer()));
  std::printf("Image maker: %s\n",
              tools.ImageMakerPath().empty() ? "none found" : LocalShownText(tools.ImageMakerPath()).c_str());
  if (drives.empty()) {
    std::printf("No disc drive found\n");
    return {};
  }
  std::printf("%-9s %-28s %-6s %s\n", "Address", "Name", "Writer", "Writes / Reads");
  for (const auto& d : drives) {
    std::printf("%-9s %-28s %-6s %s\n", lyr::burn::FormatDeviceAddress(d.device).c_str(),
                LocalShownText(d.name).c_str(), d.write_capabilities != 0 ? "yes" : "no",
                Joined(KindNames(d.write_capabilities)).c_str());
    std::printf("%-9s %-28s %-6s %s\n", "", "", "", Joined(KindNames(d.read_capabilities)).c_str());
  }
  return {};
}

}  // namespace

CommandRun AddDrivesCommand(CLI::App& cmd) {
  cmd.footer("Example: lyrctl drives --json");
  return RunDrives;
}

}  // namespace lyrctl
