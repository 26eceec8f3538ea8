// Recorder discovery on fake sysfs trees, the hot-plug watcher, and the
// connection sequence against the in-process stand-in recorder.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>
#include <fstream>

#include "emulator/sysfs_publisher.h"
#include "link/disk_scanner.h"
#include "link/recorder_watcher.h"
#include "platform/byte_order.h"
#include "support/emulated_recorder.h"
#include "support/spy_device.h"
#include "support/temp_dir.h"
#include "support/watcher_reports.h"

namespace {

namespace fs = std::filesystem;
using lyr_emu::PublishedDisk;

// A fake sysfs tree and plain files standing in for the disks' nodes.
class FakeTree {
 public:
  FakeTree() { fs::create_directories(root() / "block"); }
  fs::path root() const { return dir_ / "sys"; }
  fs::path NodeFile(const std::string& name) {
    const fs::path p = dir_ / (name + ".img");
    std::ofstream(p, std::ios::app).flush();
    return p;
  }
  std::string Plug(PublishedDisk disk) {
    if (disk.node.empty()) disk.node = NodeFile(disk.name.empty() ? "disk" + disk.serial : disk.name);
    const auto name = lyr_emu::PublishDisk(root(), disk);
    EXPECT_TRUE(name) << name.error().context;
    return name ? name.value() : std::string();
  }
  void Unplug(const std::string& name) { EXPECT_TRUE(lyr_emu::UnpublishDisk(root(), name)); }

 private:
  lyr_test::TempDir dir_;
};

PublishedDisk Disk(std::string name, std::string serial, std::string vendor = "KVB",
                   std::string model = "Belvanix") {
  PublishedDisk d;
  d.name = std::move(name);
  d.serial = std::move(serial);
  d.vendor = std::move(vendor);
  d.model = std::move(model);
  return d;
}

// How many of this process's descriptors have `path` open.
int OpenDescriptors(const fs::path& path) {
  int n = 0;
  std::error_code ec;
  for (const auto& fd : fs::directory_iterator("/proc/self/fd", ec)) {
    std::error_code link_ec;
    if (fs::read_symlink(fd.path(), link_ec) == path) ++n;
  }
  return n;
}

TEST(DiskScanner, AnExplicitDeviceMustPassTheRecorderTest) {
  FakeTree tree;
  lyr_test::TempDir dir;
  const fs::path plain = dir / "disk.img";
  std::ofstream(plain) << "not a recorder";
  auto check = lyr::CheckRecorderDevice(plain, tree.root());
  ASSERT_FALSE(check);
  EXPECT_EQ(check.error().code, lyr::kErrorBadDevice);
  EXPECT_NE(check.error().context.find("plain file"), std::string::npos);
  check = lyr::CheckRecorderDevice("/dev/null", tree.root());
  ASSERT_FALSE(check);
  EXPECT_EQ(check.error().code, lyr::kErrorBadDevice);
  check = lyr::CheckRecorderDevice(dir / "missing", tree.root());
  ASSERT_FALSE(check);
  EXPECT_EQ(check.error().os_error, ENOENT);

  // A block device is found in the tree by its number (the fake tree's
  // disks are all 8:16).
  const fs::path node = dir / "sdb";
  if (::mknod(node.c_str(), S_IFBLK | 0600, makedev(8, 16)) != 0) GTEST_SKIP() << "cannot make a device node";
  check = lyr::CheckRecorderDevice(node, tree.root());
  ASSERT_FALSE(check);
  EXPECT_EQ(check.error().code, lyr::kErrorBadDevice);
  EXPECT_NE(check.error().context.find("not a whole USB disk"), std::string::npos);

  const std::string stick = tree.Plug(Disk("sdb", "X1", "KVB", "Flash Disk"));
  check = lyr::CheckRecorderDevice(node, tree.root());
  ASSERT_FALSE(check);
  EXPECT_NE(check.error().context.find("\"Flash_Disk\", not a recorder"), std::string::npos)
      << check.error().context;
  tree.Unplug(stick);

  tree.Plug(Disk("sdb", "LYR0000001"));
  check = lyr::CheckRecorderDevice(node, tree.root());
  EXPECT_TRUE(check) << check.error().context;
}

TEST(DiskScanner, MatchesRecordersByBusVendorAndProduct) {
  struct Case {
    const char* what;
    PublishedDisk disk;
    bool found;
    const char* device_id;
  } cases[] = {
      {"recorder", Disk("sdb", "LYR0000001"), true, "LYR0000001"},
      {"vendor Dovra", Disk("sdb", "abc12", "Dovra"), true, "ABC12"},
      {"vendor in lower case", Disk("sdb", "X1", "kvb", "belvanix"), true, "X1"},
      {"KVB with another product", Disk("sdb", "X1", "KVB", "Flash Disk"), false, ""},
      {"another vendor", Disk("sdb", "X1", "KVBX", "Belvanix"), false, ""},
      {"not on the USB bus",
       [] {
         auto d = Disk("sda", "X1");
         d.usb = false;
         return d;
       }(),
       false, ""},
      // A serial the instance path cannot carry: the USB device's name stands in.
      {"serial with odd bytes", Disk("sdb", "A&B\x01"), true, "1-1"},
      {"no serial", Disk("sdb", ""), true, "1-1"},
  };
  for (const Case& c : cases) {
    FakeTree tree;
    tree.Plug(c.disk);
    const auto found = lyr::FindRecorders(tree.root().string());
    ASSERT_EQ(found.size(), c.found ? 1u : 0u) << c.what;
    if (!c.found) continue;
    EXPECT_EQ(found[0].device_id, c.device_id) << c.what;
    EXPECT_EQ(found[0].node, (fs::path(tree.root()).parent_path() / (c.disk.name + ".img")).string())
        << c.what;
  }
}

TEST(DiskScanner, BuildsTheWindowsInstancePath) {
  FakeTree tree;
  tree.Plug(Disk("sdb", "LYR0000001"));
  auto disk = Disk("sdc", "S2", "Some Co", "USB Flash Disk");
  disk.revision = "8.07";
  tree.Plug(disk);
  const auto disks = lyr::ListUsbDisks(tree.root().string());
  ASSERT_EQ(disks.size(), 2u);
  EXPECT_EQ(disks[0].instance_path, "USBSTOR\\DISK&VEN_KVB&PROD_Belvanix&REV_1.00\\LYR0000001&0");
  EXPECT_EQ(disks[1].instance_path, "USBSTOR\\DISK&VEN_Some_Co&PROD_USB_Flash_Disk&REV_8.07\\S2&0");
  EXPECT_EQ(disks[1].vendor, "Some_Co");
}

TEST(DiskScanner, InstancePathMatching) {
  struct Case {
    const char* path;
    bool match;
    const char* id;
  } cases[] = {
      {"USBSTOR\\Disk&Ven_KVB&Prod_Belvanix&Rev_1.00\\0123abc&0", true, "0123ABC"},
      {"usbstor\\disk&ven_dovra&prod_belvanix&rev_\\X&0", true, "X"},
      {"USBSTOR\\DISK&VEN_KVB&PROD_BELVANIX&REV_1.00\\NOAMP", true, "NOAMP"},
      {"SCSI\\Disk&Ven_KVB&Prod_Belvanix&Rev_1.00\\1&0", false, ""},
      {"USBSTOR\\Disk&Ven_KVB&Prod_Belvanix", false, ""},           // no third '&'
      {"USBSTOR\\Disk&Ven_KVB&Prod_Belvanix&Rev_1.00", false, ""},  // no serial part
      {"USBSTOR\\Disk&Ven_KVB&Prod_Belvanix2&Rev_1.00\\1&0", false, ""},
      {"USBSTOR", false, ""},
      {"", false, ""},
  };
  for (const Case& c : cases) {
    std::string id;
    EXPECT_EQ(lyr::MatchRecorderInstance(c.path, &id), c.match) << c.path;
    if (c.match) {
      EXPECT_EQ(id, c.id) << c.path;
    }
  }
  // Text beyond 255 characters is not looked at.
  const std::string head = "USBSTOR\\Disk&Ven_KVB&Prod_Belvanix&Rev_" + std::string(200, 'R') + "\\";
  ASSERT_EQ(head.size(), 240u);
  std::string id;
  EXPECT_TRUE(lyr::MatchRecorderInstance(head + "SerialNumberLong&0", &id));
  EXPECT_EQ(id, "SERIALNUMBERLON");
}

TEST(DiskScanner, OddTreesAreSkippedNotFatal) {
  FakeTree tree;
  const std::string good = tree.Plug(Disk("sdd", "GOOD"));
  // A disk whose vendor attribute is missing, one with binary junk, a
  // FIFO in place of an attribute, a block entry with no device, a dangling link.
  const std::string no_vendor = tree.Plug(Disk("sdb", "A"));
  const std::string junk = tree.Plug(Disk("sdc", "B"));
  const std::string fifo = tree.Plug(Disk("sde", "C"));
  const fs::path b = fs::canonical(tree.root() / "block" / no_vendor / "device");
  fs::remove(b / "vendor");
  const fs::path c = fs::canonical(tree.root() / "block" / junk / "device");
  std::ofstream(c / "vendor", std::ios::binary) << std::string(
                                                       "K\0V\xff"
                                                       "B\n\n",
                                                       7)
                                                << std::string(10000, 'x');
  const fs::path e = fs::canonical(tree.root() / "block" / fifo / "device");
  fs::remove(e / "model");
  ASSERT_EQ(::mkfifo((e / "model").c_str(), 0600), 0);
  fs::create_directories(tree.root() / "block/loop0");
  fs::create_directory_symlink("../devices/nowhere", tree.root() / "block/sdz");

  const auto found = lyr::FindRecorders(tree.root().string());
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].device_id, "GOOD");
  EXPECT_TRUE(lyr::FindRecorders((tree.root() / "missing").string()).empty());
}

// ScanRecorders step by step, without the thread.
class ScanTest : public ::testing::Test {
 protected:
  ScanTest() : watcher_(link_, lyr::WatcherOptions{tree_.root().string()}) { link_.ResetLinkState(); }
  int Scan(int expected_status = 0) {
    int status = 99;
    const int r = watcher_.ScanRecorders(status);
    if (r == 1) {
      EXPECT_EQ(status, expected_status);
    }
    return r;
  }

  FakeTree tree_;
  lyr::RecorderLink link_;
  lyr::RecorderWatcher watcher_;
};

TEST_F(ScanTest, KeepsTheCurrentRecorderAndFollowsItToANewNode) {
  EXPECT_EQ(Scan(), 1);  // nothing plugged: "no recorder", status 0
  const std::string first = tree_.Plug(Disk("sdc", "ONE"));
  EXPECT_EQ(Scan(), 2);
  EXPECT_EQ(watcher_.GetDeviceId(), "ONE");
  EXPECT_TRUE(link_.IsDriveOpen());
  EXPECT_EQ(Scan(), 0);  // nothing changed: nothing to report

  // A second recorder, even one earlier in order, does not take over.
  tree_.Plug(Disk("sdb", "TWO"));
  EXPECT_EQ(Scan(), 0);
  EXPECT_EQ(watcher_.GetDeviceId(), "ONE");

  // The current recorder re-plugged on another node: old drive closed, new one opened.
  const fs::path old_node = fs::path(tree_.root()).parent_path() / "sdc.img";
  EXPECT_EQ(OpenDescriptors(old_node), 1);
  tree_.Unplug(first);
  auto moved = Disk("sdd", "ONE");
  moved.node = tree_.NodeFile("sdd");
  tree_.Plug(moved);
  EXPECT_EQ(Scan(), 2);
  EXPECT_EQ(watcher_.GetDeviceId(), "ONE");
  EXPECT_EQ(watcher_.CurrentNode(), moved.node.string());
  EXPECT_EQ(OpenDescriptors(old_node), 0);
  EXPECT_EQ(OpenDescriptors(moved.node), 1);
}

TEST_F(ScanTest, WithoutACurrentRecorderTheFirstInOrderIsUsed) {
  tree_.Plug(Disk("sdc", "LATER"));
  tree_.Plug(Disk("sdb", "FIRST"));
  EXPECT_EQ(Scan(), 2);
  EXPECT_EQ(watcher_.GetDeviceId(), "FIRST");
}

TEST_F(ScanTest, UnplugClearsTheLinkState) {
  const std::string name = tree_.Plug(Disk("sdb", "ONE"));
  ASSERT_EQ(Scan(), 2);
  link_.SetAccessGranted(true);  // as the connection sequence leaves it
  link_.SetRecorderRefused(false);
  tree_.Unplug(name);
  EXPECT_EQ(Scan(0), 1);
  EXPECT_FALSE(link_.IsDriveOpen());
  EXPECT_FALSE(link_.IsAccessGranted());
  EXPECT_TRUE(link_.IsRecorderRefused());
  EXPECT_FALSE(watcher_.IsLinked());
  EXPECT_EQ(watcher_.GetDeviceId(), "");
  EXPECT_EQ(OpenDescriptors(fs::path(tree_.root()).parent_path() / "sdb.img"), 0);
}

// Safely Remove lets the drive go and keeps it closed while the recorder
// stays plugged in; a replug or Reconnect links it again.
TEST_F(ScanTest, ReleasedRecorderStaysClosedUntilReplugOrReconnect) {
  const std::string name = tree_.Plug(Disk("sdb", "ONE"));
  const fs::path node = fs::path(tree_.root()).parent_path() / "sdb.img";
  ASSERT_EQ(Scan(), 2);
  watcher_.ReleaseDrive();
  EXPECT_TRUE(watcher_.IsReleased());
  EXPECT_FALSE(link_.IsDriveOpen());
  EXPECT_EQ(OpenDescriptors(node), 0) << "another program may open it now";
  EXPECT_EQ(Scan(), 0) << "a change of other disks does not link it again";
  EXPECT_EQ(OpenDescriptors(node), 0);

  watcher_.Reconnect();
  EXPECT_FALSE(watcher_.IsReleased());
  EXPECT_EQ(Scan(), 2);
  EXPECT_EQ(OpenDescriptors(node), 1);

  watcher_.ReleaseDrive();
  tree_.Unplug(name);
  EXPECT_EQ(Scan(0), 1);
  EXPECT_FALSE(watcher_.IsReleased());
  tree_.Plug(Disk("sdb", "ONE"));
  EXPECT_EQ(Scan(), 2) << "plugged in anew";
}

TEST_F(ScanTest, ANodeThatCannotBeOpenedReportsMinusOne) {
  auto disk = Disk("sdb", "ONE");
  disk.node = tree_.root().parent_path() / "no-such-node";
  tree_.Plug(disk);
  EXPECT_EQ(Scan(lyr::kStatusOpenFailed), 1);
  EXPECT_FALSE(watcher_.IsLinked());
  EXPECT_FALSE(link_.IsDriveOpen());
  EXPECT_EQ(watcher_.CurrentNode(), "");
  // Still not openable on the next change: reported again.
  EXPECT_EQ(Scan(lyr::kStatusOpenFailed), 1);
}

using ReportQueue = lyr_test::WatcherReports;

TEST(RecorderWatcher, ReportsPlugUnplugAndReplugAndStopsPromptly) {
  FakeTree tree;
  const std::string name = tree.Plug(Disk("sdb", "ONE"));
  lyr::RecorderLink link;
  lyr::WatcherOptions options{tree.root().string(), std::chrono::milliseconds(50)};
  lyr::RecorderWatcher watcher(link, options);
  ReportQueue reports;
  ASSERT_EQ(watcher.StartWatcher(reports.Sink()), 1);
  // A recorder plugged in before the start is found by the first scan.
  EXPECT_EQ(reports.Next(), std::make_pair(1, 0));
  EXPECT_EQ(watcher.GetDeviceId(), "ONE");

  // The tree's block folder is watched: no hand-raised change needed.
  tree.Unplug(name);
  EXPECT_EQ(reports.Next(), std::make_pair(0, 0));
  EXPECT_FALSE(link.IsDriveOpen());
  const std::string again = tree.Plug(Disk("sdc", "ONE"));
  EXPECT_EQ(reports.Next(), std::make_pair(1, 0));

  // A change the monitor cannot see (an attribute rewritten in place) is
  // raised by hand.
  const fs::path scsi = fs::canonical(tree.root() / "block" / again / "device");
  std::ofstream(scsi / "model") << "Other\n";
  watcher.NotifyChange();
  EXPECT_EQ(reports.Next(), std::make_pair(0, 0));
  EXPECT_EQ(reports.Next(std::chrono::milliseconds(300)), std::make_pair(-9, -9));  // one report per change

  // Stopping while a change is settling ends at once.
  lyr::WatcherOptions slow = options;
  slow.settle = std::chrono::seconds(30);
  lyr::RecorderWatcher slow_watcher(link, slow);
  ReportQueue slow_reports;
  ASSERT_EQ(slow_watcher.StartWatcher(slow_reports.Sink()), 1);
  EXPECT_EQ(slow_reports.Next(), std::make_pair(0, 0));
  slow_watcher.NotifyChange();
  const auto start = std::chrono::steady_clock::now();
  slow_watcher.StopWatcher();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  watcher.StopWatcher();
}

}  // namespace
