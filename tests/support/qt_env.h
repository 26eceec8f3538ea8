#pragma once
// The Qt application for the window tests, made before the first test and
// ended after the last, on the offscreen platform (no display needed).
#include <QApplication>
#include <QTest>
#include <chrono>
#include <cstring>
#include <functional>

#include "link/protocol.h"
#include "link/recorder_link.h"
#include "platform/byte_order.h"
#include "settings/recorder_model.h"

namespace lyr_test {

// Waits (running the event loop) until `done` holds or `limit` passes.
inline bool WaitFor(const std::function<bool()>& done,
                    std::chrono::milliseconds limit = std::chrono::seconds(20)) {
  return QTest::qWaitFor(done, static_cast<int>(limit.count()));
}

// A link whose state says "usable" without a drive behind it: its commands
// fail, so the model keeps what a test put in it.
inline void MarkUsable(lyr::RecorderLink& link, bool usable = true) {
  link.SetDriveOpen(usable);
  link.SetAccessGranted(usable);
  link.SetRecorderRefused(!usable);
}

inline void SetDeviceClock(lyr::DeviceRecord& device, const lyr::RecorderClock& c) {
  const uint16_t f[6] = {c.year, c.month, c.day, c.hour, c.minute, c.second};
  for (int i = 0; i < 6; ++i) lyr::PutU16(device.data() + lyr::protocol::kDevClock + 2 * i, f[i]);
}

}  // namespace lyr_test
