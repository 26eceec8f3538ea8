#pragma once
// The Copy/Burn panel: a tab control with the "Data CD", "Audio CD" and
// "HDD" pages. It scans the optical drives (at start and whenever one
// arrives or leaves) on its tool worker and fills both burn pages' drive
// combos, hands "Add to Burn-list" to the page it shows, and tells the
// player panel on every tab change whether that page burns.
#include <QWidget>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "burn/burner_tools.h"
#include "gui/burn/burn_services.h"

class QTabWidget;

namespace lyr {

class CDlgBurnAudio;
class CDlgBurnData;
class CKVBBurnPage;
class CKVBTabPage;
class TaskQueue;
namespace burn {
class OpticalDriveWatcher;
}

class CCopyBurnPanel : public QWidget {
  Q_OBJECT
 public:
  // `services.tool_worker` is set; its owner outlives the panel.
  CCopyBurnPanel(BurnServices services, QWidget* parent = nullptr);
  ~CCopyBurnPanel() override;

  // The "HDD" page, the third tab.
  void AddCopyPage(CKVBTabPage* page);
  CDlgBurnData* DataPage() const { return data_; }
  CDlgBurnAudio* AudioPage() const { return audio_; }
  CKVBTabPage* CurrentPage() const;
  QTabWidget* Tabs() const { return tabs_; }

  // "Add to Burn-list": to the page shown.
  void AddRecordings(const std::vector<uint32_t>& entries);

  // Finds the tools, then scans; on the tool worker.
  void InitTools();
  // Scans the drives again; while a disc check or a burn runs the scan
  // waits for its end.
  void RescanDrives();
  // Rescans whenever an optical drive arrives or leaves under `sysfs_root`.
  bool WatchDrives(const std::string& sysfs_root);
  // The writers of the last scan, on the GUI thread.
  const std::vector<burn::BURN_DRIVE_INFO>& Writers() const { return writers_; }
  int ScanCount() const { return scans_; }
  // Where the panel's place is kept between runs (cfgfile.ini, section
  // common); empty keeps nothing. Without a kept place it opens at the right
  // of its main window, over the play list's side, below the menu bar.
  void SetPlacementFile(const std::string& config_path) { placement_file_ = config_path; }

  // A disc check or a burn runs on one of the pages.
  bool IsBusy() const;
  // The program closes: the "Error", "Warning" and "Burning" windows are
  // asked to close, a running job is cancelled and ends soon; IsBusy tells
  // when it has.
  void Stop();
  // The recorder left: a running burn goes on (its writer no longer needs
  // the recorder) and says how it ended. False when none runs.
  bool RecorderLeft();

 signals:
  // The page shown changed: true for the copy page, false for a burn page.
  void panelPageChanged(bool copy_page);
  void drivesScanned(int writers);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  // With the trace on: the page shown and where its tabs and buttons are on
  // the screen (for runs driven from outside).
  void TracePage() const;
  void OnScanned(const std::vector<burn::BURN_DRIVE_INFO>& writers);
  void OnTabChanged(int index);
  void OnBurnFinished();
  void PlaceOnFirstShow();
  void SavePlace() const;

  BurnServices services_;
  std::unique_ptr<burn::OpticalDriveWatcher> watcher_;
  QTabWidget* tabs_ = nullptr;
  CDlgBurnData* data_ = nullptr;
  CDlgBurnAudio* audio_ = nullptr;
  std::vector<burn::BURN_DRIVE_INFO> writers_;
  bool rescan_pending_ = false;
  bool scanning_ = false;
  int scans_ = 0;
  std::string placement_file_;
  bool placed_ = false;
};

}  // namespace lyr
