// Events with Windows semantics: the order of a wait set decides the winner,
// auto-reset events are consumed by the wait that wins them.
#include <gtest/gtest.h>

#include <thread>

#include "platform/event.h"

namespace {

using lyr::Event;
using lyr::WaitAny;
using namespace std::chrono_literals;

TEST(Event, FirstSignalledInOrderWinsAndAutoResetIsConsumed) {
  Event exit_event(Event::Reset::Manual);
  Event data(Event::Reset::Auto, true);
  EXPECT_EQ(WaitAny({&exit_event, &data}, 0ms), 1);
  EXPECT_FALSE(data.IsSet()) << "the auto-reset event that won is reset";
  EXPECT_EQ(WaitAny({&exit_event, &data}, 10ms), -1);

  data.Set();
  exit_event.Set();
  EXPECT_EQ(WaitAny({&exit_event, &data}, 0ms), 0) << "exit wins over every later event";
  EXPECT_TRUE(exit_event.IsSet()) << "a manual-reset event stays signalled";
  EXPECT_TRUE(data.IsSet()) << "the event that did not win is not consumed";
}

TEST(Event, WaitAnyWakesWhenAnotherThreadSets) {
  Event a(Event::Reset::Auto), b(Event::Reset::Auto);
  std::thread setter([&] {
    std::this_thread::sleep_for(20ms);
    b.Set();
  });
  EXPECT_EQ(WaitAny({&a, &b}), 1);
  setter.join();
  EXPECT_FALSE(b.IsSet());

  std::thread setter2([&] {
    std::this_thread::sleep_for(20ms);
    a.Set();
  });
  EXPECT_TRUE(a.Wait(5000ms));
  EXPECT_FALSE(a.IsSet());
  setter2.join();
}

}  // namespace
