#pragma once
// The base of the two burn pages: the recorder-drive combo, the "Burn"
// button, the disc check before a burn and the "Burning" dialog that runs
// the page's job. The job event is signalled whenever no job runs.
//
// The disc check's tool calls (drive capabilities, the disc query,
// blanking) run on the tool worker so that the window stays responsive
// while a slow drive answers; its messages and questions are shown on the
// GUI thread with the page as owner.
#include <QPointer>
#include <cstdint>
#include <memory>
#include <vector>

#include "burn/burner_tools.h"
#include "burn/tools_burn_runner.h"
#include "gui/burn/burn_progress_dlg.h"
#include "gui/burn/burn_services.h"
#include "gui/common/tab_page.h"
#include "platform/event.h"
#include "recordings/recording_record.h"

class QComboBox;
class QPushButton;
class QTreeWidget;

namespace lyr {

// One job's own folder inside the temporary folder (the tool runner's path
// list goes there too), removed with everything in it when the job ends.
// Without it the job works in the temporary folder itself.
class JobTempFolder {
 public:
  explicit JobTempFolder(const std::string& parent);
  ~JobTempFolder();
  JobTempFolder(const JobTempFolder&) = delete;
  JobTempFolder& operator=(const JobTempFolder&) = delete;
  const std::string& path() const { return path_; }  // with a trailing '/'

 private:
  std::string path_;
  bool own_ = false;
};

// A writer as the drive combo shows it: "HL-DT-ST DVDRAM GH22NS50".
QString DriveLabel(const char* name);

class CKVBBurnPage : public CKVBTabPage {
  Q_OBJECT
 public:
  CKVBBurnPage(const BurnServices& services, QWidget* parent = nullptr);
  ~CKVBBurnPage() override;

  bool IsBurnPage() const override { return true; }
  // "Add to Burn-list": the records are read on the record worker; a
  // recording whose record cannot be read is left out.
  void AddRecordings(const std::vector<uint32_t>& entries) override;

  // The writers of the last scan: those with a write capability of 0x1FEE
  // go into the combo, their device address as the item's data.
  void FillDrives(const std::vector<burn::BURN_DRIVE_INFO>& writers);
  // The chosen drive's address, or kNoDevice when none is chosen.
  uint32_t SelectedDevice() const;
  QComboBox* DriveCombo() const { return drive_combo_; }
  QPushButton* BurnButton() const { return burn_button_; }

  // The "Burn" handler: the disc check, then the "Burning" dialog.
  void OnBurn();
  // A disc check or a burn is under way.
  bool IsBusy() const { return checking_ || !job_event_.IsSet(); }
  Event& JobEvent() { return job_event_; }
  CBurnProgressDlg* ProgressDialog() const { return dialog_; }
  // The panel or the program closes: boxes answered "No", the job cancelled,
  // the dialog closed once its job has ended.
  void Stop();
  // The recorder left: a burn running now says, once it has ended, whether
  // its disc was written. False when no burn runs.
  bool RecorderLeft();
  // The disc space the burn needs (and the temporary folder too).
  virtual uint64_t RequiredBytes() const = 0;

 signals:
  // The "Burning" dialog has closed.
  void burnFinished();
  // The disc check ended: passed, or refused.
  void discChecked(bool passed);
  // The records of one AddRecordings call have been read; `added` rows came.
  void recordingsAdded(int added);

 protected:
  // What a page fills in: its list, its required bytes, whether only a CD
  // will do, and its job (built on the GUI thread, run on the dialog's).
  virtual QTreeWidget* List() const = 0;
  // One recording read for AddRecordings; false when the page refuses it.
  virtual bool AddRecord(const RecordingRecord& record) = 0;
  virtual bool CdOnly() const = 0;
  virtual CBurnProgressDlg::Job MakeJob(uint32_t device, uint32_t disc_kind) = 0;

  // The Burn button follows the combo and the list.
  void UpdateBurnButton();
  // The temporary folder the settings name, with a trailing '/'.
  std::string TempFolder() const;
  // The dialog's job: `run` (RunAudioCdJob, RunDataDiscJob) over the tool
  // runner, with the job's temporary files in a folder of its own.
  template <typename JobData, typename Run>
  CBurnProgressDlg::Job BindJob(JobData job, Run run) const {
    burn::BurnerTools* tools = services_.tools;
    RecorderLink* link = services_.link;
    return [tools, link, parent = TempFolder(), job, run](burn::BurnReporter& window) mutable {
      const JobTempFolder temp(parent);
      job.temp_folder = temp.path();
      tools->SetBurnTempFolder(temp.path());
      burn::ToolsBurnRunner runner(*tools);
      return run(*link, runner, job, window);
    };
  }
  // The widgets a page places in its own layout.
  QWidget* DriveRow() const { return drive_row_; }

  BurnServices services_;

 private:
  void OnDiscChecked(int result, uint32_t device, uint32_t disc_kind);

  QWidget* drive_row_ = nullptr;
  QComboBox* drive_combo_ = nullptr;
  QPushButton* burn_button_ = nullptr;
  Event job_event_{Event::Reset::Manual, true};
  bool checking_ = false;
  bool stopping_ = false;
  bool recorder_left_ = false;
  JobQuestions questions_{this, BurnBoxStyle()};  // the disc check's boxes
  QPointer<CBurnProgressDlg> dialog_;
};

}  // namespace lyr
