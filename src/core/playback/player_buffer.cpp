#include "playback/player_buffer.h"

#include <algorithm>
#include <cstring>

#include "platform/last_error.h"
#include "platform/thread_priority.h"

namespace lyr {

std::unique_ptr<PlayerBuffer> PlayerBuffer::BuffMgrCreate(RecorderLink& link) {
  std::unique_ptr<PlayerBuffer> buffer(new PlayerBuffer(link));
  try {
    buffer->thread_ = std::thread([b = buffer.get()] { b->Worker(); });
  } catch (const std::exception&) {
    return nullptr;
  }
  return buffer;
}

PlayerBuffer::PlayerBuffer(RecorderLink& link) : link_(link), ring_(kRingSize), chunk_(kChunkSize) {}

PlayerBuffer::~PlayerBuffer() {
  exit_event_.Set();
  end_event_.Wait();
  if (thread_.joinable()) thread_.join();
}

void PlayerBuffer::BuffMgrSetFile(const RecordingRecord& record) {
  file_size_ = record.DataSize();
  entry_ = record.Entry();
}

void PlayerBuffer::BuffMgrStart() { start_event_.Set(); }

void PlayerBuffer::BuffMgrStop() {
  SetFlags(BUFFMGR_STOP);
  stop_event_.Set();
}

void PlayerBuffer::BuffMgrSeek(uint32_t offset) {
  seek_target_ = offset;
  SetFlags(BUFFMGR_SEEK, BUFFMGR_END);
  seek_event_.Set();
}

uint32_t PlayerBuffer::BuffMgrRead(void* destination, uint32_t length) {
  const uint32_t unread = unread_.load();
  if (filled_.load() == kRingSize && unread <= kLowWater && wait_timeout_ms_.load() < 0)
    wait_timeout_ms_ = kPollTimeout.count();
  const uint32_t count = std::min(length, unread);
  const uint32_t at = read_index_.load();
  const uint32_t first = std::min(count, kRingSize - at);
  auto* out = static_cast<uint8_t*>(destination);
  std::memcpy(out, ring_.data() + at, first);
  std::memcpy(out + first, ring_.data(), count - first);
  read_index_ = (at + count) % kRingSize;
  {
    std::lock_guard lock(data_mutex_);
    unread_ -= count;
  }
  get_data_event_.Set();
  return count;
}

void PlayerBuffer::SetFlags(uint32_t set, uint32_t clear) {
  std::lock_guard lock(state_mutex_);
  state_ = (state_.load() & ~clear) | set;
}

bool PlayerBuffer::Pause(std::chrono::milliseconds delay) {
  if (!exit_event_.Wait(delay)) return true;
  exit_event_.Set();  // for the worker's own wait
  return false;
}

void PlayerBuffer::Worker() {
  LowerThisThreadsPriority();
  for (;;) {
    if (!started_) {
      const int which = WaitAny({&exit_event_, &start_event_});
      if (which == 0) break;
      if (which == 1)
        started_ = true;
      else
        SetFlags(BUFFMGR_WAIT_ERROR);
      continue;
    }
    const int which = WaitAny({&exit_event_, &stop_event_, &seek_event_, &get_data_event_},
                              std::chrono::milliseconds(wait_timeout_ms_.load()));
    switch (which) {
      case 0:
        end_event_.Set();
        return;
      case 1: {
        std::lock_guard lock(data_mutex_);
        file_offset_ = filled_ = unread_ = read_index_ = write_index_ = 0;
        started_ = false;
        // A read error belongs to the recording that was streamed.
        SetFlags(0, BUFFMGR_STOP | BUFFMGR_END | BUFFMGR_READ_ERROR);
        break;
      }
      case 2: {
        const uint32_t target = seek_target_.load();
        const uint32_t offset = file_offset_.load();
        const uint32_t filled = filled_.load();
        std::lock_guard lock(data_mutex_);
        if (target < offset && offset - filled <= target) {
          const uint32_t back = offset - target;
          unread_ = back;
          read_index_ = (write_index_.load() + kRingSize - back) % kRingSize;
        } else {
          filled_ = unread_ = read_index_ = write_index_ = 0;
          wait_timeout_ms_ = 0;
          file_offset_ = target;
        }
        // A seek asks for the recorder again after a failed read.
        SetFlags(0, BUFFMGR_SEEK | BUFFMGR_READ_ERROR);
        break;
      }
      case 3:
      case -1:
        FillStep();
        break;
      default:
        SetFlags(BUFFMGR_WAIT_ERROR);
        break;
    }
  }
  end_event_.Set();
}

void PlayerBuffer::FillStep() {
  const uint32_t size = file_size_.load();
  const uint32_t offset = file_offset_.load();
  if (offset >= size) {
    SetFlags(BUFFMGR_END);
    wait_timeout_ms_ = kInfinite.count();
    return;
  }
  // After a failed read the worker waits for a seek or a stop rather than
  // asking a recorder that is gone every 10 ms.
  if (state_.load() & BUFFMGR_READ_ERROR) {
    wait_timeout_ms_ = kInfinite.count();
    return;
  }
  if (filled_.load() == kRingSize) {
    if (unread_.load() > kLowWater) {
      wait_timeout_ms_ = kInfinite.count();
      return;
    }
    filled_ = kRingSize / 2;
  }
  SetFlags(BUFFMGR_READING);
  const bool read = link_.ReadRecordingData(entry_.load(), offset, kChunkSize, chunk_.data()) != 0;
  if (!read) {
    // What the chunk buffer holds after a failed read is no audio: nothing
    // is stored, and readers report the device error once the ring is empty.
    read_error_code_ = kErrorConnectionUnavail;
    SetLastError(kErrorConnectionUnavail);
    SetFlags(BUFFMGR_READ_ERROR, BUFFMGR_READING);
    return;
  }
  ++chunks_read_;
  if (!Pause(kPollTimeout)) return;
  const uint32_t length = std::min(kChunkSize, size - offset);
  Store(chunk_.data(), length);
  file_offset_ = offset + length;
  filled_ = std::min(kRingSize, filled_.load() + length);
  SetFlags(0, BUFFMGR_READING);
}

void PlayerBuffer::Store(const uint8_t* data, uint32_t length) {
  const uint32_t count = std::min(length, kRingSize - unread_.load());
  const uint32_t at = write_index_.load();
  const uint32_t first = std::min(count, kRingSize - at);
  std::memcpy(ring_.data() + at, data, first);
  std::memcpy(ring_.data(), data + first, count - first);
  write_index_ = (at + count) % kRingSize;
  std::lock_guard lock(data_mutex_);
  unread_ += count;
}

}  // namespace lyr
