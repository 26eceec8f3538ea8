#pragma once
#include <CLI/CLI.hpp>
#include <functional>
#include <string>
#include <vector>

namespace lyrctl {

// Options every sub-command shares.
struct GlobalOptions {
  std::string device;  // --device PATH: the recorder's raw disk
  bool json = false;   // --json: machine-readable output
  bool force = false;  // --force: open --device even when it does not look like a recorder
};

// A sub-command registers itself with LYRCTL_COMMAND from its own file; its
// setup function adds the sub-command and its callback to the app.
using CommandSetup = std::function<void(CLI::App& app, GlobalOptions& options)>;
std::vector<CommandSetup>& CommandRegistry();

struct CommandRegistrar {
  explicit CommandRegistrar(CommandSetup setup) { CommandRegistry().push_back(std::move(setup)); }
};

// Thrown from a command callback to end lyrctl with a message and a status.
struct CommandFailure {
  std::string message;
  int exit_code = 1;
};

}  // namespace lyrctl

#define LYRCTL_CONCAT_INNER(a, b) a##b
#define LYRCTL_CONCAT(a, b) LYRCTL_CONCAT_INNER(a, b)
#define LYRCTL_COMMAND(setup) \
  static ::lyrctl::CommandRegistrar LYRCTL_CONCAT(lyrctl_registrar_, __LINE__)(setup)
