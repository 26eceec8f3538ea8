#pragma once
// What the Copy/Burn panel's pages work with; the application owns each of
// them. Every call into the burner tool runner (scans, disc queries,
// blanking) runs on `tool_worker`, one at a time; the jobs run on the thread
// of their "Burning" dialog while no other tool call is made.
#include <functional>
#include <string>

namespace lyr {

class TaskQueue;
class RecorderLink;
namespace burn {
class BurnerTools;
}

struct BurnServices {
  burn::BurnerTools* tools = nullptr;
  RecorderLink* link = nullptr;
  TaskQueue* record_worker = nullptr;  // reads the records of added recordings
  TaskQueue* tool_worker = nullptr;    // the burner tool runner's calls
  std::function<std::string()> temp_folder;
  std::function<std::string()> device_id;  // the recorder's id, for BWF headers
};

}  // namespace lyr
