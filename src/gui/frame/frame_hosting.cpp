#include "gui/frame/frame_hosting.h"

#include <memory>

#include "gui/burn/copy_burn_panel.h"
#include "gui/common/unplug_notice.h"
#include "gui/frame/main_frame.h"
#include "gui/frame/status_panel.h"
#include "gui/playback/player_view.h"
#include "gui/settings/setting_dialog.h"
#include "gui/settings/settings_pages.h"
#include "gui/transfer/copy_hdd_page.h"
#include "gui/transfer/transfer_commands.h"
#include "link/disk_scanner.h"
#include "link/recorder_watcher.h"

namespace lyr {

void HostPanelsAndPages(CMainFrame& frame, FrameServices& services) {
  frame.SetStatusPanel(new CStatusPanel(services.model, services.link, services.worker, &frame));

  // The pages register themselves with the model while shown.
  auto pages = std::make_shared<CSettingsPages>(services.model, services.link, services.worker, &frame);
  const FrameActions& actions = frame.Actions();
  QAction* const commands[] = {actions.date_time, actions.file_type, actions.machine_information};
  int i = 0;
  for (CSettingsPage* page : pages->List()) {
    page->setObjectName(QString("page%1").arg(page->PageIndex()));
    frame.AddPage(page, commands[i++], false);
    // An Apply that ends may let the closing sequence go on.
    QObject::connect(
        page, &CSettingsPage::busyChanged, &frame,
        [&frame](bool busy) {
          if (!busy) frame.ContinueClosing();
        },
        Qt::QueuedConnection);
  }
  frame.SetPagesBusy([pages] { return pages->AnyBusy(); });

  AppState* app = &services.app;
  // The player view is the window's client.
  CPlayerView* view = nullptr;
  if (services.player_buffer != nullptr) {
    // Its starts and stops run on the application's queue; a view made
    // without it could only crash at its first Play.
    if (services.player_worker == nullptr) qFatal("the player view needs the application's player queue");
    view = new CPlayerView(services.link, services.worker, *services.player_worker, services.model,
                           services.player_buffer, nullptr, &frame);
    view->SetDeleteAllowed([app] { return app->admin || (app->command_rights & kRightDelete) != 0; });
    frame.setCentralWidget(view);
  }

  // The Copy/Burn panel, after the pages and in no page list.
  CCopyBurnPanel* left_panel = nullptr;
  CTransferCommands* left_transfer = nullptr;
  if (services.burner != nullptr) {
    BurnServices burn;
    burn.tools = services.burner;
    burn.link = &services.link;
    burn.record_worker = &services.worker;
    burn.tool_worker = services.tool_worker;
    burn.temp_folder = [app] { return app->temp_folder; };
    RecorderWatcher* watcher = services.watcher;
    burn.device_id = [watcher] { return watcher != nullptr ? watcher->GetDeviceId() : std::string(); };
    auto* panel = new CCopyBurnPanel(burn, &frame);
    panel->SetPlacementFile(app->config_path);
    panel->hide();
    // Drives are found at start and again whenever an optical drive comes or goes.
    panel->InitTools();
    panel->WatchDrives(DefaultSysfsRoot());
    auto* hdd = new CDlgCopyHDD(app->config_path, panel);
    panel->AddCopyPage(hdd);
    CTransferCommands* transfer = nullptr;
    if (view != nullptr) {
      // The play list's copy and delete commands, behind "Files Processing".
      transfer = new CTransferCommands(services.link, services.model, &services.worker, &frame, &frame);
      QObject::connect(view, &CPlayerView::copyRequested, transfer,
                       [transfer, hdd, watcher, view](const std::vector<uint32_t>& entries) {
                         CopyOptions options = hdd->Options();
                         if (watcher != nullptr) options.device_id = watcher->GetDeviceId();
                         const RecordingSelection selection = view->Selection();
                         transfer->CopyAndSave(entries, options, &selection);
                       });
      QObject::connect(view, &CPlayerView::deleteRequested, transfer,
                       [transfer, view](const std::vector<uint32_t>& entries) {
                         const RecordingSelection selection = view->Selection();
                         transfer->Delete(entries, &selection);
                       });
      QObject::connect(transfer, &CTransferCommands::copyFinished, view, [view, hdd] {
        view->RedrawList();
        hdd->Reread();
      });
      QObject::connect(transfer, &CTransferCommands::deleteFinished, view, &CPlayerView::RemoveEntries);
      QObject::connect(panel, &CCopyBurnPanel::panelPageChanged, view, &CPlayerView::SetPanelPage);
      QObject::connect(view, &CPlayerView::addToBurnListRequested, panel,
                       [panel](const std::vector<uint32_t>& entries) { panel->AddRecordings(entries); });
    }
    // Closing the window cancels a burn, a copy or a delete and waits for
    // its end, and stops playback: no sound without a window.
    frame.SetCopyBurnPanel(
        panel,
        [panel, transfer, view] {
          panel->Stop();
          if (transfer != nullptr) transfer->Stop();
          if (view != nullptr) view->StopPlayback();
        },
        [panel, transfer] { return panel->IsBusy() || (transfer != nullptr && transfer->IsBusy()); });
    left_panel = panel;
    left_transfer = transfer;
  }
  // Unplugging interrupts a copy, a delete, a playback or a burn; each says
  // so once it has ended, and the window stays.
  frame.SetRecorderLeftHandler([&frame, view, left_panel, left_transfer] {
    bool interrupted = left_panel != nullptr && left_panel->RecorderLeft();
    if (left_transfer != nullptr && left_transfer->RecorderLeft()) interrupted = true;
    if (view != nullptr && view->PlayState() != CPlayerView::State::kStopped) {
      ShowUnplugNotice(&frame, InterruptedJob::kPlayback);
      interrupted = true;
    }
    return interrupted;
  });

  frame.SetSettingDialog(
      [app](QWidget* parent) {
        auto* dialog = new CSettingDialog(QString::fromStdString(app->temp_folder), parent);
        QObject::connect(dialog, &CSettingDialog::applied, dialog,
                         [app](const QString& folder) { app->temp_folder = folder.toStdString(); });
        return dialog;
      },
      [](QDialog* dialog) {
        auto* setting = static_cast<CSettingDialog*>(dialog);
        setting->CloseBrowser();
        setting->reject();
      });
}

}  // namespace lyr
