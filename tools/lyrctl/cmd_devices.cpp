// lyrctl devices: the recorders plugged into this computer.
#include <cstdio>
#include <nlohmann/json.hpp>

#include "commands.h"
#include "link/disk_scanner.h"

namespace lyrctl {
namespace {

void RunDevices(const GlobalOptions& options) {
  const std::string root = lyr::DefaultSysfsRoot();
  const auto found = lyr::FindRecorders(root);
  if (options.json) {
    nlohmann::json list = nlohmann::json::array();
    for (const auto& r : found)
      list.push_back({{"device_id", r.device_id},
                      {"node", r.node},
                      {"vendor", r.vendor},
                      {"product", r.product},
                      {"instance_path", r.instance_path}});
    std::printf("%s\n", list.dump(2).c_str());
    return;
  }
  if (found.empty()) {
    std::printf("No LYR found\n");
    return;
  }
  std::printf("%-20s %-24s %-10s %s\n", "Device id", "Node", "Vendor", "Product");
  for (const auto& r : found)
    std::printf("%-20s %-24s %-10s %s\n", r.device_id.c_str(), r.node.c_str(), r.vendor.c_str(),
                r.product.c_str());
}

LYRCTL_COMMAND([](CLI::App& app, GlobalOptions& options) {
  CLI::App* cmd = app.add_subcommand(
      "devices", "List the recorders plugged in (LYR_SYSFS_ROOT names another sysfs tree)");
  cmd->add_flag("--json", options.json, "Print machine-readable JSON");
  cmd->callback([&options] { RunDevices(options); });
});

}  // namespace
}  // namespace lyrctl
