#include <cstdio>
#include <iostream>

#include "commands.h"
#include "lyr_version.h"

namespace lyrctl {
std::vector<CommandSetup>& CommandRegistry() {
  static std::vector<CommandSetup> registry;
  return registry;
}
}  // namespace lyrctl

int main(int argc, char** argv) {
  CLI::App app{"lyrctl: the LYR recorder manager on the command line"};
  app.set_version_flag("--version", LYR_VERSION_STRING);
  app.require_subcommand(1);
  lyrctl::GlobalOptions options;
  app.add_option("--device", options.device,
                 "The recorder's raw disk (for example /dev/sdb); default: the one recorder plugged in");
  app.add_flag("--json", options.json, "Print machine-readable JSON");
  app.add_flag("--force", options.force,
               "Open --device even when it is neither a recorder's USB disk nor a served stand-in");
  for (auto& setup : lyrctl::CommandRegistry()) setup(app, options);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e);
  } catch (const lyrctl::CommandFailure& failure) {
    std::fflush(stdout);
    if (!failure.message.empty()) std::cerr << "lyrctl: " << failure.message << "\n";
    return failure.exit_code;
  }
  return 0;
}
