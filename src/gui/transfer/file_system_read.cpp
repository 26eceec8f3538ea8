#include "gui/transfer/file_system_read.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <memory>
#include <mutex>
#include <thread>

namespace lyr {
namespace {

constexpr int kPollMs = 15;
constexpr int kLatePollMs = 500;

struct Answer {
  std::mutex mutex;
  ReadDelivery delivery;
  bool answered = false;
};

}  // namespace

void ReadOffGuiThread(QObject* context, std::function<ReadDelivery()> read, int bound_ms,
                      std::function<void()> late) {
  auto answer = std::make_shared<Answer>();
  std::thread([answer, read = std::move(read)] {
    ReadDelivery delivery = read();
    std::lock_guard lock(answer->mutex);
    answer->delivery = std::move(delivery);
    answer->answered = true;
  }).detach();
  // The GUI thread looks for the answer now and then; the timer goes with
  // `context`, so a window gone meanwhile is never called.
  auto* poll = new QTimer(context);
  auto clock = std::make_shared<QElapsedTimer>();
  clock->start();
  auto late_told = std::make_shared<bool>(false);
  QObject::connect(poll, &QTimer::timeout, context, [poll, answer, clock, late_told, bound_ms, late] {
    ReadDelivery delivery;
    bool answered = false;
    {
      std::lock_guard lock(answer->mutex);
      answered = answer->answered;
      if (answered) delivery = std::move(answer->delivery);
    }
    if (answered) {
      poll->stop();
      poll->deleteLater();
      if (delivery) delivery();
      return;
    }
    if (!*late_told && clock->elapsed() >= bound_ms) {
      *late_told = true;
      // A mount that does not answer may never do: look less often.
      poll->setInterval(kLatePollMs);
      if (late) late();
    }
  });
  poll->start(kPollMs);
}

}  // namespace lyr
