#include "gui/common/unplug_notice.h"

#include <QMessageBox>
#include <QWidget>

#include "gui/common/job_questions.h"

namespace lyr {
namespace {
constexpr char kCaption[] = "LYR unplugged";
}  // namespace

QString UnplugNoticeText(InterruptedJob job, const QStringList& kept) {
  QString text;
  bool says_kept = true;
  switch (job) {
    case InterruptedJob::kCopy:
      text = "The LYR was unplugged during the copy.";
      break;
    case InterruptedJob::kDelete:
      text =
          "The LYR was unplugged during the delete. Plug it in again to see which recordings it still holds.";
      says_kept = false;
      break;
    case InterruptedJob::kPlayback:
      text = "The LYR was unplugged during playback. Playback stopped.";
      says_kept = false;
      break;
    case InterruptedJob::kBurnDownload:
      text =
          "The LYR was unplugged while the recordings were being downloaded for the burn. "
          "The disc was not written.";
      break;
    case InterruptedJob::kBurnMarks:
      text =
          "The LYR was unplugged during the burn. The disc was written, but the recordings could not be "
          "marked as copied because the LYR is gone.";
      says_kept = false;
      break;
  }
  if (!kept.isEmpty()) {
    text += "\n\nKept on the PC:";
    for (const QString& file : kept) text += "\n    " + file;
  } else if (says_kept) {
    text += "\n\nNothing was kept on the PC.";
  }
  return text;
}

void ShowUnplugNotice(QWidget* owner, InterruptedJob job, const QStringList& kept) {
  auto* box = new QMessageBox(QMessageBox::Information, kCaption, UnplugNoticeText(job, kept),
                              QMessageBox::Ok, owner);
  box->setObjectName("unplugNoticeBox");
  box->setAttribute(Qt::WA_DeleteOnClose);
  FitCaption(box);
  box->open();
}

}  // namespace lyr
