// lyr-emu: a stand-in for the LYR recorder. It keeps recordings in a store
// directory and serves the recorder's raw disk through FUSE, so the manager
// talks to it exactly as to the real recorder.
#include <fcntl.h>
#include <sys/file.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>

#include "emulator/audio_import.h"
#include "emulator/recorder_emulator.h"
#include "emulator/recorder_store.h"
#include "emulator/update_packer.h"
#include "fuse_server.h"
#include "lyr_version.h"
#include "platform/unique_fd.h"
#include "recordings/recording_record.h"
#include "sysfs_plug.h"

namespace {

int Fail(const std::string& message) {
  std::cerr << "lyr-emu: " << message << "\n";
  return 1;
}

// The stand-in's errors carry their whole text in the context.
int Fail(const lyr::Error& error) { return Fail(error.context); }

// What each command was asked to do, as the command line gave it.
struct InitArgs {
  std::string store_dir;
  bool demo = false;
};

struct AddArgs {
  std::string store_dir;
  std::string file;
  std::string name;
  std::string date;
  std::string text;
  uint32_t entry = 0;
};

struct ServeArgs {
  std::string store_dir;
  std::string mount_dir;
  bool allow_other = false;
  std::string sysfs_root;
  std::string serial;
  std::string vendor = "KVB";
};

struct PackArgs {
  std::string out;
  std::string image;
  size_t sample = 0;
};

CLI::App* AddPackCommand(CLI::App& app, PackArgs& a) {
  CLI::App* cmd = app.add_subcommand("pack-update", "Pack a firmware image into an update file (.coe)");
  cmd->add_option("OUT", a.out, "Update file to write")->required();
  CLI::Option* image =
      cmd->add_option("--image", a.image, "Firmware image to pack")->check(CLI::ExistingFile);
  cmd->add_option("--sample", a.sample,
                  "Pack a made-up image of BYTES bytes (a multiple of 4) with a header the manager accepts")
      ->excludes(image);
  cmd->footer("Example: lyr-emu pack-update /tmp/fw.coe --sample 2097144");
  return cmd;
}

CLI::App* AddInitCommand(CLI::App& app, InitArgs& a) {
  CLI::App* cmd = app.add_subcommand("init", "Make a new recorder store");
  cmd->add_option("STORE", a.store_dir, "Store directory")->required();
  cmd->add_flag("--demo", a.demo, "Fill it with the demo recordings");
  cmd->footer("Example: lyr-emu init /tmp/rec --demo");
  return cmd;
}

CLI::App* AddAddCommand(CLI::App& app, AddArgs& a) {
  CLI::App* cmd = app.add_subcommand("add", "Add a 16-bit PCM WAVE or MPEG Layer II file as a recording");
  cmd->add_option("STORE", a.store_dir, "Store directory")->required();
  cmd->add_option("FILE", a.file, "WAVE or Layer II file")->required()->check(CLI::ExistingFile);
  cmd->add_option("--name", a.name, "Recording name (default: file prefix and the next index)");
  cmd->add_option("--date", a.date, "Recording date and time, YYYY-MM-DDTHH:MM:SS (default: now)");
  cmd->add_option("--text", a.text, "Free text of the recording");
  cmd->add_option("--entry", a.entry, "Entry number to use (default: the next one)");
  cmd->footer("Example: lyr-emu add /tmp/rec interview.wav --name TALK0001");
  return cmd;
}

CLI::App* AddServeCommand(CLI::App& app, ServeArgs& a) {
  CLI::App* cmd = app.add_subcommand("serve", "Serve the recorder as MOUNTDIR/disk until interrupted");
  cmd->add_option("STORE", a.store_dir, "Store directory")->required();
  cmd->add_option("MOUNTDIR", a.mount_dir, "Empty directory to mount on")
      ->required()
      ->check(CLI::ExistingDirectory);
  cmd->add_flag("--allow-other", a.allow_other, "Let other users open the disk (needs user_allow_other)");
  cmd->add_option("--sysfs", a.sysfs_root,
                  "Also publish the disk as a USB disk in the sysfs tree at ROOT while serving; "
                  "SIGUSR1 unplugs it, SIGUSR2 plugs it back in");
  cmd->add_option("--serial", a.serial, "USB serial number to publish (default: the store's)");
  cmd->add_option("--vendor", a.vendor, "USB disk vendor to publish")->check(CLI::IsMember({"KVB", "Dovra"}));
  cmd->footer("Example: lyr-emu serve /tmp/rec /tmp/mnt");
  return cmd;
}

int Pack(const PackArgs& a) {
  std::vector<uint8_t> image;
  if (!a.image.empty()) {
    std::ifstream in(a.image, std::ios::binary);
    image.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (!in.eof() && !in) return Fail("cannot read " + a.image);
  } else if (a.sample != 0) {
    if (a.sample < 32 || a.sample % 4 != 0) return Fail("--sample wants at least 32 bytes, a multiple of 4");
    image = lyr_emu::MakeSampleImage(a.sample);
  } else {
    return Fail("give the image with --image FILE, or --sample BYTES");
  }
  const auto packed = lyr_emu::PackUpdate(image);
  if (!packed) return Fail(packed.error());
  std::ofstream out(a.out, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(packed.value().data()),
            static_cast<std::streamsize>(packed.value().size()));
  out.close();
  if (!out) return Fail("cannot write " + a.out);
  std::printf("packed %zu image bytes into %s (%zu bytes)\n", image.size(), a.out.c_str(),
              packed.value().size());
  return 0;
}

int Init(const InitArgs& a) {
  auto created = lyr_emu::RecorderStore::Create(a.store_dir);
  if (!created) return Fail(created.error());
  const auto& store = created.value();
  if (a.demo) {
    const lyr::Status demo = lyr_emu::AddDemoRecordings(*store);
    if (!demo) return Fail(demo.error());
  }
  std::printf("store %s ready with %zu recordings\n", a.store_dir.c_str(), store->recordings().size());
  return 0;
}

int Add(const AddArgs& a) {
  auto opened = lyr_emu::RecorderStore::Open(a.store_dir);
  if (!opened) return Fail(opened.error());
  const auto& store = opened.value();
  lyr_emu::ImportOptions options;
  options.name = a.name;
  options.text = a.text;
  options.entry = a.entry;
  if (!a.date.empty()) {
    std::tm tm{};
    if (!lyr_emu::ParseDateTime(a.date, &tm)) return Fail("--date wants YYYY-MM-DDTHH:MM:SS, got " + a.date);
    options.date = tm;
  }
  const auto imported = lyr_emu::ImportAudioFile(*store, a.file, options);
  if (!imported) return Fail(imported.error());
  const uint32_t added = imported.value();
  const lyr_emu::StoredRecording* rec = store->Find(added);
  const lyr::RecordingRecord record(rec->record);
  std::printf("added entry %u (%s, %llu bytes)\n", added, record.Name().c_str(),
              static_cast<unsigned long long>(rec->data_size));
  return 0;
}

// Holds the store's lock file for as long as it is served: a store served
// through two mounts at once would give each a list the other has changed.
lyr::Result<lyr::UniqueFd> LockStore(const std::string& store_dir) {
  const std::string path = (std::filesystem::path(store_dir) / "serving.lock").string();
  lyr::UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
  if (!fd.valid())
    return lyr::Error::Code(lyr::kErrorIoDevice,
                            "cannot lock the store: " + path + ": " + std::strerror(errno));
  if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK)
      return lyr::Error::Code(
          lyr::kErrorSharingViolation,
          "the store " + store_dir + " is already served by another lyr-emu; stop that one first");
    return lyr::Error::Code(lyr::kErrorIoDevice,
                            "cannot lock the store: " + path + ": " + std::strerror(errno));
  }
  return fd;
}

int Serve(const ServeArgs& a) {
  auto opened = lyr_emu::RecorderStore::Open(a.store_dir);
  if (!opened) return Fail(opened.error());
  const auto locked = LockStore(a.store_dir);
  if (!locked) return Fail(locked.error());
  const auto& store = opened.value();
  lyr_emu::RecorderEmulator emulator(*store);
  std::unique_ptr<lyr_emu::SysfsPlug> plug;
  if (!a.sysfs_root.empty()) {
    lyr_emu::PublishedDisk disk;
    disk.vendor = a.vendor;
    disk.serial = a.serial.empty() ? store->config().serial : a.serial;
    disk.node = std::filesystem::absolute(a.mount_dir) / "disk";
    plug = std::make_unique<lyr_emu::SysfsPlug>(emulator, a.sysfs_root, disk);
  }
  lyr_emu::ServeOptions options;
  options.mount_dir = a.mount_dir;
  options.allow_other = a.allow_other;
  bool plug_failed = false;
  options.on_mounted = [&] {
    std::printf("serving %s as %s/disk (Ctrl+C to stop)\n", a.store_dir.c_str(), a.mount_dir.c_str());
    std::fflush(stdout);
    if (!plug) return true;
    const lyr::Status started = plug->Start();
    if (!started) {
      std::fprintf(stderr, "lyr-emu: %s\n", started.error().context.c_str());
      plug_failed = true;
      return false;
    }
    return true;
  };
  options.on_unmounting = [&] {
    if (plug) plug->Stop();
  };
  const int status = lyr_emu::ServeDisk(emulator, options);
  if (plug_failed) return 1;
  std::printf("exchange statistics:\n%s", emulator.StatsText().c_str());
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"lyr-emu: a stand-in LYR recorder served as a raw disk"};
  app.set_version_flag("--version", LYR_VERSION_STRING);
  app.require_subcommand(1);
  InitArgs init_args;
  AddArgs add_args;
  ServeArgs serve_args;
  const CLI::App* init = AddInitCommand(app, init_args);
  const CLI::App* add = AddAddCommand(app, add_args);
  const CLI::App* serve = AddServeCommand(app, serve_args);
  PackArgs pack_args;
  const CLI::App* pack = AddPackCommand(app, pack_args);
  CLI11_PARSE(app, argc, argv);
  if (*init) return Init(init_args);
  if (*add) return Add(add_args);
  if (*pack) return Pack(pack_args);
  if (*serve) return Serve(serve_args);
  return 2;
}
