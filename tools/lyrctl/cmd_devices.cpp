// lyrctl devices: the recorders plugged into this computer.
#include <cstdio>
#include <nlohmann/json.hpp>

#include "commands.h"
#include "link/disk_scanner.h"
#include "text_output.h"

namespace lyrctl {
namespace {

lyr::Status RunDevices(const GlobalOptions& options) {
  const std::string root = lyr::DefaultSysfsRoot();
  const auto found = lyr::FindRecorders(root);
  if (options.json) {
    nlohmann::json list = nlohmann::json::array();
    for (const auto& r : found)
      list.push_back({{"device_id", LocalJsonText(r.device_id)},
                      {"node", LocalJsonText(r.node)},
                      {"vendor", LocalJsonText(r.vendor)},
                      {"product", LocalJsonText(r.product)},
                      {"instance_path", LocalJsonText(r.instance_path)}});
    PrintJson(list);
    return {};
  }
  if (found.empty()) {
    std::printf("No LYR found\n");
    return {};
  }
  std::printf("%-20s %-24s %-10s %s\n", "Device id", "Node", "Vendor", "Product");
  for (const auto& r : found)
    std::printf("%-20s %-24s %-10s %s\n", LocalShownText(r.device_id).c_str(), LocalShownText(r.node).c_str(),
                LocalShownText(r.vendor).c_str(), LocalShownText(r.product).c_str());
  return {};
}

}  // namespace

CommandRun AddDevicesCommand(CLI::App& cmd) {
  cmd.footer("Example: lyrctl devices --json");
  return RunDevices;
}

}  // namespace lyrctl
