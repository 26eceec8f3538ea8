#include "gui/common/task_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

TEST(TaskQueue, RunsJobsInOrderOffTheCallersThreadAndFinishesTheQueueBeforeItEnds) {
  std::vector<int> done;
  std::atomic<bool> release{false};
  std::thread::id ran_on;
  {
    lyr::TaskQueue worker;
    // The first job holds the worker until the rest are queued.
    worker.Post([&] {
      ran_on = std::this_thread::get_id();
      while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      done.push_back(0);
    });
    for (int i = 1; i <= 3; ++i) worker.Post([&done, i] { done.push_back(i); });
    release = true;
  }  // the queued writes are never dropped
  EXPECT_EQ(done, (std::vector<int>{0, 1, 2, 3}));
  EXPECT_NE(ran_on, std::this_thread::get_id());
}

}  // namespace
