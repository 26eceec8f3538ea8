// Hot-plug end to end: lyr-emu publishes its served disk as a USB disk in a
// sysfs tree and is unplugged and plugged back by signal, while a watcher
// runs on that tree and lyrctl finds the recorder without --device.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "e2e_support.h"
#include "emulator/sysfs_publisher.h"
#include "link/disk_scanner.h"
#include "link/recorder_watcher.h"
#include "session/connection.h"
#include "settings/recorder_model.h"
#include "support/watcher_reports.h"

namespace {

namespace fs = std::filesystem;
using lyr_test::ServedRecorder;

// Waits until the tree shows `count` recorders.
bool WaitForRecorders(const fs::path& root, size_t count) {
  for (int i = 0; i < 200; ++i) {
    if (lyr::FindRecorders(root.string()).size() == count) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  return false;
}

TEST(HotPlug, WatcherAndLyrctlFollowPlugUnplugAndReplug) {
  LYR_REQUIRE_FUSE();
  ServedRecorder rec(false);
  const fs::path root = rec.dir() / "sys";
  fs::create_directories(root);
  ASSERT_TRUE(rec.Start({"--sysfs", root.string(), "--serial", "E2E0001", "--vendor", "Dovra"}));
  ASSERT_TRUE(WaitForRecorders(root, 1));
  const std::vector<std::string> env = {"LYR_SYSFS_ROOT=" + root.string()};

  // lyrctl lists it and uses it without --device.
  const auto devices = lyr_test::Run({lyr_test::LyrctlPath(), "devices", "--json"}, env);
  ASSERT_EQ(devices.exit_code, 0) << devices.err;
  const auto list = nlohmann::json::parse(devices.out);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0]["device_id"], "E2E0001");
  EXPECT_EQ(list[0]["node"], rec.disk());
  EXPECT_EQ(list[0]["vendor"], "Dovra");
  const auto info = lyr_test::Run({lyr_test::LyrctlPath(), "info"}, env);
  EXPECT_EQ(info.exit_code, 0) << info.err;
  EXPECT_NE(info.out.find("Device:          " + rec.disk()), std::string::npos) << info.out;

  lyr::RecorderLink link;
  link.SetSettleDelay(std::chrono::milliseconds(0));
  lyr::RecorderWatcher watcher(link, lyr::WatcherOptions{root.string(), std::chrono::milliseconds(100)});
  lyr_test::WatcherReports reports;
  ASSERT_EQ(watcher.StartWatcher(reports.Sink()), 1);
  ASSERT_EQ(reports.Next(), std::make_pair(1, 0));
  lyr::RecorderModel model;
  EXPECT_EQ(lyr::CompleteConnection(link, model), lyr::ConnectionResult::kReady);
  EXPECT_EQ(watcher.GetDeviceId(), "E2E0001");

  // Unplugged: the watcher reports it gone and the link is down.
  ASSERT_EQ(::kill(rec.pid(), SIGUSR1), 0);
  EXPECT_EQ(reports.Next(), std::make_pair(0, 0));
  EXPECT_FALSE(link.IsDriveOpen());
  EXPECT_FALSE(link.IsAccessGranted());
  EXPECT_TRUE(link.IsRecorderRefused());
  const auto none = lyr_test::Run({lyr_test::LyrctlPath(), "info"}, env);
  EXPECT_NE(none.exit_code, 0);
  EXPECT_NE(none.err.find("no recorder found"), std::string::npos) << none.err;

  // Plugged back in: connected again, and usable.
  ASSERT_EQ(::kill(rec.pid(), SIGUSR2), 0);
  EXPECT_EQ(reports.Next(), std::make_pair(1, 0));
  EXPECT_EQ(lyr::CompleteConnection(link, model), lyr::ConnectionResult::kReady);
  EXPECT_GE(model.FirmwareVersion(), 6000);

  // With a second recorder plugged in, lyrctl asks which one.
  lyr_emu::PublishedDisk other;
  other.name = "sdq";
  other.serial = "OTHER";
  other.node = rec.dir() / "other.img";
  const auto published = lyr_emu::PublishDisk(root, other);
  ASSERT_TRUE(published) << published.error().context;
  ASSERT_EQ(published.value(), "sdq");
  EXPECT_EQ(reports.Next(std::chrono::milliseconds(1500)), std::make_pair(-9, -9));  // the current one stays
  const auto several = lyr_test::Run({lyr_test::LyrctlPath(), "info"}, env);
  EXPECT_NE(several.exit_code, 0);
  EXPECT_NE(several.err.find("several recorders found"), std::string::npos) << several.err;
  lyr_emu::UnpublishDisk(root, "sdq");

  watcher.StopWatcher();
  rec.Stop();
  // Stopping lyr-emu takes its disk out of the tree.
  EXPECT_TRUE(lyr::ListUsbDisks(root.string()).empty());
}

}  // namespace
