// lyr-emu: a stand-in for the LYR recorder. It keeps recordings in a store
// directory and serves the recorder's raw disk through FUSE, so the manager
// talks to it exactly as to the real recorder.
#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>

#include "emulator/audio_import.h"
#include "emulator/recorder_emulator.h"
#include "emulator/recorder_store.h"
#include "fuse_server.h"
#include "lyr_version.h"
#include "sysfs_plug.h"

namespace {

int Fail(const std::string& message) {
  std::cerr << "lyr-emu: " << message << "\n";
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"lyr-emu: a stand-in LYR recorder served as a raw disk"};
  app.set_version_flag("--version", LYR_VERSION_STRING);
  app.require_subcommand(1);

  std::string store_dir, file, name, date, text, mount_dir;
  bool demo = false, allow_other = false;
  uint32_t entry = 0;

  CLI::App* init = app.add_subcommand("init", "Make a new recorder store");
  init->add_option("STORE", store_dir, "Store directory")->required();
  init->add_flag("--demo", demo, "Fill it with the demo recordings");

  CLI::App* add = app.add_subcommand("add", "Add a 16-bit PCM WAVE or MPEG Layer II file as a recording");
  add->add_option("STORE", store_dir, "Store directory")->required();
  add->add_option("FILE", file, "WAVE or Layer II file")->required()->check(CLI::ExistingFile);
  add->add_option("--name", name, "Recording name (default: file prefix and the next index)");
  add->add_option("--date", date, "Recording date and time, YYYY-MM-DDTHH:MM:SS (default: now)");
  add->add_option("--text", text, "Free text of the recording");
  add->add_option("--entry", entry, "Entry number to use (default: the next one)");

  CLI::App* serve = app.add_subcommand("serve", "Serve the recorder as MOUNTDIR/disk until interrupted");
  serve->add_option("STORE", store_dir, "Store directory")->required();
  serve->add_option("MOUNTDIR", mount_dir, "Empty directory to mount on")->required()->check(CLI::ExistingDirectory);
  serve->add_flag("--allow-other", allow_other, "Let other users open the disk (needs user_allow_other)");
  std::string sysfs_root, serial, vendor = "KVB";
  serve->add_option("--sysfs", sysfs_root,
                    "Also publish the disk as a USB disk in the sysfs tree at ROOT while serving; "
                    "SIGUSR1 unplugs it, SIGUSR2 plugs it back in");
  serve->add_option("--serial", serial, "USB serial number to publish (default: the store's)");
  serve->add_option("--vendor", vendor, "USB disk vendor to publish")->check(CLI::IsMember({"KVB", "Dovra"}));

  CLI11_PARSE(app, argc, argv);

  std::string error;
  if (*init) {
    auto store = lyr_emu::RecorderStore::Create(store_dir, &error);
    if (!store) return Fail(error);
    if (demo && !lyr_emu::AddDemoRecordings(*store, &error)) return Fail(error);
    std::printf("store %s ready with %zu recordings\n", store_dir.c_str(), store->recordings().size());
    return 0;
  }

  auto store = lyr_emu::RecorderStore::Open(store_dir, &error);
  if (!store) return Fail(error);

  if (*add) {
    lyr_emu::ImportOptions options;
    options.name = name;
    options.text = text;
    options.entry = entry;
    if (!date.empty()) {
      std::tm tm{};
      if (!lyr_emu::ParseDateTime(date, &tm)) return Fail("--date wants YYYY-MM-DDTHH:MM:SS, got " + date);
      options.date = tm;
    }
    uint32_t added = 0;
    if (!lyr_emu::ImportAudioFile(*store, file, options, &added, &error)) return Fail(error);
    const auto* rec = store->Find(added);
    std::printf("added entry %u (%s, %llu bytes)\n", added, reinterpret_cast<const char*>(rec->record.data() + 124),
                static_cast<unsigned long long>(rec->data_size));
    return 0;
  }

  lyr_emu::RecorderEmulator emulator(*store);
  lyr_emu::ServeOptions options;
  options.mount_dir = mount_dir;
  options.allow_other = allow_other;
  std::unique_ptr<lyr_emu::SysfsPlug> plug;
  bool plug_failed = false;
  if (!sysfs_root.empty()) {
    lyr_emu::PublishedDisk disk;
    disk.vendor = vendor;
    disk.serial = serial.empty() ? store->config().serial : serial;
    disk.node = std::filesystem::absolute(mount_dir) / "disk";
    plug = std::make_unique<lyr_emu::SysfsPlug>(emulator, sysfs_root, disk);
  }
  options.on_mounted = [&] {
    std::printf("serving %s as %s/disk (Ctrl+C to stop)\n", store_dir.c_str(), mount_dir.c_str());
    std::fflush(stdout);
    if (plug && !plug->Start(&error)) {
      std::fprintf(stderr, "lyr-emu: %s\n", error.c_str());
      plug_failed = true;
      std::raise(SIGTERM);
    }
  };
  options.on_unmounting = [&] {
    if (plug) plug->Stop();
  };
  const int status = lyr_emu::ServeDisk(emulator, options);
  if (plug_failed) return 1;
  std::printf("exchange statistics:\n%s", emulator.StatsText().c_str());
  return status;
}
