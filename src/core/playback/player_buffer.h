#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "link/recorder_link.h"
#include "platform/event.h"
#include "recordings/recording_record.h"

namespace lyr {

// State flags of the player buffer.
constexpr uint32_t BUFFMGR_READING = 0x001;
constexpr uint32_t BUFFMGR_SEEK = 0x002;
constexpr uint32_t BUFFMGR_STOP = 0x008;
constexpr uint32_t BUFFMGR_END = 0x010;
constexpr uint32_t BUFFMGR_READ_ERROR = 0x100;
constexpr uint32_t BUFFMGR_WAIT_ERROR = 0x200;

// The player buffer: a worker thread that reads the current recording from
// the recorder in 32 KiB chunks into a 2 MiB ring ahead of the player, and
// keeps what was read so that short seeks are served from memory. One object
// per owner (the application owns one); one recording streamed at a time.
// Requests from other threads go to the worker as events; stop and seek are
// acknowledged through the state word.
class PlayerBuffer {
 public:
  static constexpr uint32_t kRingSize = 2097152;
  static constexpr uint32_t kChunkSize = 32768;
  // Unread bytes above which a full ring stops polling the recorder.
  static constexpr uint32_t kLowWater = 524288;
  static constexpr std::chrono::milliseconds kPollTimeout{10};
  static constexpr std::chrono::milliseconds kInfinite = Event::kInfinite;

  // Starts the worker at the lowest scheduling priority the system allows;
  // null when the thread cannot be started. `link` must outlive the buffer.
  static std::unique_ptr<PlayerBuffer> BuffMgrCreate(RecorderLink& link);
  // BuffMgrDestroy: wakes the worker for exit and waits for it.
  ~PlayerBuffer();
  PlayerBuffer(const PlayerBuffer&) = delete;
  PlayerBuffer& operator=(const PlayerBuffer&) = delete;

  // Copies the record of the recording to stream; positions are not touched.
  void BuffMgrSetFile(const RecordingRecord& record);
  void BuffMgrStart();
  void BuffMgrStop();
  void BuffMgrSeek(uint32_t offset);
  // Copies up to `length` unread bytes; returns the count (0 when none are held).
  uint32_t BuffMgrRead(void* destination, uint32_t length);
  uint32_t BuffMgrGetState() const { return state_.load(); }
  // The recording offset of the next byte a reader gets.
  uint32_t BuffMgrGetPosition() const { return file_offset_.load() - unread_.load(); }

  // For tests and the benchmarks.
  uint32_t Filled() const { return filled_.load(); }
  uint32_t Unread() const { return unread_.load(); }
  std::chrono::milliseconds WaitTimeout() const { return std::chrono::milliseconds(wait_timeout_ms_.load()); }
  // Chunks read from the recorder since creation.
  uint64_t ChunksRead() const { return chunks_read_.load(); }
  // The last error of the last failed data read (1201), 0 when none failed.
  uint32_t ReadErrorCode() const { return read_error_code_.load(); }

 private:
  explicit PlayerBuffer(RecorderLink& link);
  void Worker();
  void FillStep();
  void Store(const uint8_t* data, uint32_t length);
  void SetFlags(uint32_t set, uint32_t clear = 0);
  // Waits `delay` unless exit is asked for meanwhile; false on exit.
  bool Pause(std::chrono::milliseconds delay);

  RecorderLink& link_;
  Event start_event_{Event::Reset::Auto};
  Event stop_event_{Event::Reset::Auto};
  Event seek_event_{Event::Reset::Auto};
  Event get_data_event_{Event::Reset::Auto};
  Event exit_event_{Event::Reset::Auto};
  Event end_event_{Event::Reset::Auto};
  std::mutex data_mutex_;   // guards changes of unread
  std::mutex state_mutex_;  // guards changes of the state word

  std::atomic<uint32_t> filled_{0};
  std::atomic<uint32_t> unread_{0};
  std::atomic<uint32_t> read_index_{0};
  std::atomic<uint32_t> write_index_{0};
  std::atomic<uint32_t> file_offset_{0};
  std::atomic<uint32_t> state_{0};
  std::atomic<uint32_t> seek_target_{0};
  std::atomic<int64_t> wait_timeout_ms_{kPollTimeout.count()};
  std::atomic<uint64_t> chunks_read_{0};
  std::atomic<uint32_t> read_error_code_{0};
  bool started_ = false;  // worker only

  // Of the record given last: the recording's size and its own entry.
  std::atomic<uint32_t> file_size_{0};
  std::atomic<uint32_t> entry_{0};
  std::vector<uint8_t> ring_;
  std::vector<uint8_t> chunk_;
  std::thread thread_;
};

}  // namespace lyr
