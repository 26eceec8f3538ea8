#pragma once
// What the recorder's leaving interrupted, said once its job has ended: the
// job's own messages tell what failed, this tells why and what is left on
// the PC.
#include <QString>
#include <QStringList>

class QWidget;

namespace lyr {

enum class InterruptedJob {
  kCopy,          // "Copy & save"
  kDelete,        // "Delete"
  kPlayback,      // the player
  kBurnDownload,  // a burn, before its writer started
  kBurnMarks,     // a burn whose writer finished; the copied marks failed
};

// The box's text. `kept` names what stays on the PC (a file per line, an
// incomplete one with ".partial"); for a copy or a burn's download an empty
// list says that nothing was kept.
QString UnplugNoticeText(InterruptedJob job, const QStringList& kept = {});

// Shows the notice as a window-modal information box ("unplugNoticeBox")
// over `owner`, without waiting for it.
void ShowUnplugNotice(QWidget* owner, InterruptedJob job, const QStringList& kept = {});

}  // namespace lyr
