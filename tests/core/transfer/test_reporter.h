#pragma once
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "job/job_reporter.h"

namespace lyr_test {

// A job window that writes down everything the job shows, answers its
// questions from a script and can cancel when a given event arrives.
class TestReporter : public lyr::JobReporter {
 public:
  void SetStatus(const std::string& text) override { Log("status " + text); }
  void SetProgress(int percent) override {
    Log("progress " + std::to_string(percent), [&] { progress.push_back(percent); });
  }
  void SetFileProgress(int percent) override {
    Log("file " + std::to_string(percent), [&] { file_progress.push_back(percent); });
  }
  bool Ask(const std::string& text, const std::string& caption) override {
    Log("ask " + caption + ": " + text);
    return answer_yes;
  }
  void Message(const std::string& text, const std::string& caption, lyr::MessageIcon icon) override {
    Log(std::string(icon == lyr::MessageIcon::Error ? "error " : "warning ") + caption + ": " + text);
  }
  bool CancelRequested() const override { return cancel; }

  // Events whose text starts with `prefix`.
  std::vector<std::string> Events(const std::string& prefix) const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> out;
    for (const auto& e : events)
      if (e.rfind(prefix, 0) == 0) out.push_back(e);
    return out;
  }

  std::vector<std::string> events;
  std::vector<int> progress;
  std::vector<int> file_progress;
  bool answer_yes = true;
  std::atomic<bool> cancel{false};
  // Called after each event is logged (on the job's thread); may set `cancel`.
  std::function<void(const std::string&)> on_event;

 private:
  void Log(const std::string& e, const std::function<void()>& also = {}) {
    {
      std::lock_guard lock(mutex_);
      events.push_back(e);
      if (also) also();
    }
    if (on_event) on_event(e);
  }
  mutable std::mutex mutex_;
};

}  // namespace lyr_test
