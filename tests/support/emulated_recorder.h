#pragma once
// An in-process stand-in recorder for tests: a temporary store, the
// emulator serving it, and links wired straight to it (no FUSE, no disk).
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "emulator/audio_import.h"
#include "emulator/recorder_emulator.h"
#include "emulator/recorder_store.h"
#include "link/recorder_link.h"
#include "support/temp_dir.h"

namespace lyr_test {

class EmulatedRecorder {
 public:
  EmulatedRecorder() {
    auto created = lyr_emu::RecorderStore::Create(dir_.path() / "store");
    if (!created)
      ADD_FAILURE() << created.error().context;
    else
      store_ = std::move(created).value();
    emulator_ = std::make_unique<lyr_emu::RecorderEmulator>(*store_);
  }

  lyr_emu::RecorderStore& store() { return *store_; }
  lyr_emu::RecorderConfig& config() { return store_->config(); }
  lyr_emu::RecorderEmulator& emulator() { return *emulator_; }
  const TempDir& dir() const { return dir_; }

  // Adds a recording with the given record fields and data bytes.
  uint32_t AddRecording(const std::array<uint8_t, 652>& record, const std::vector<uint8_t>& data,
                        uint32_t entry = 0) {
    const auto file = dir_.path() / "data.tmp";
    {
      std::ofstream out(file, std::ios::binary | std::ios::trunc);
      out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    }
    const auto got = store_->AddRecording(record, file, 0, data.size(), entry);
    if (!got) ADD_FAILURE() << got.error().context;
    return got ? got.value() : 0;
  }

  // Adds a 16-bit PCM recording of `data` bytes of a counting pattern.
  uint32_t AddPcm(const std::string& name, uint32_t bytes, uint32_t rate = 48000, uint16_t channels = 2,
                  uint32_t entry = 0) {
    std::tm date{};
    lyr_emu::ParseDateTime("2011-08-19T10:20:37", &date);
    auto record =
        lyr_emu::MakeRecordingRecord(rate, rate * channels * 16, 16, channels, 0x70001, date, name, "");
    return AddRecording(record, Pattern(bytes, bytes), entry);
  }

  // The audio data the stand-in holds for an entry.
  std::vector<uint8_t> DataOf(uint32_t entry) {
    const lyr_emu::StoredRecording* rec = store_->Find(entry);
    if (rec == nullptr) return {};
    std::ifstream in(rec->data_path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  // Deterministic bytes that differ with position and seed.
  static std::vector<uint8_t> Pattern(size_t size, uint32_t seed) {
    std::vector<uint8_t> v(size);
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < size; ++i) {
      x ^= x << 13;
      x ^= x >> 17;
      x ^= x << 5;
      v[i] = static_cast<uint8_t>(x);
    }
    return v;
  }

  // Wraps the stand-in's device, e.g. to watch its transfers.
  using DeviceWrapper = std::function<std::unique_ptr<lyr::BlockDevice>(std::unique_ptr<lyr::BlockDevice>)>;

  // A link opened on the stand-in. With `ready`, it has also been through
  // Identify and RequestAccess, as the connection sequence leaves it.
  std::unique_ptr<lyr::RecorderLink> MakeLink(bool ready = true, DeviceWrapper wrap = {}) {
    auto link = std::make_unique<lyr::RecorderLink>([this, wrap](const std::string&) {
      std::unique_ptr<lyr::BlockDevice> device = emulator_->Connect();
      return lyr::RawDriveOpenResult(wrap ? wrap(std::move(device)) : std::move(device));
    });
    link->SetSettleDelay(std::chrono::milliseconds(0));
    link->ResetLinkState();
    if (link->OpenLink("stand-in") != 0) ADD_FAILURE() << "OpenLink on the stand-in failed";
    link->SetDriveOpen(true);
    if (ready) {
      EXPECT_EQ(link->Identify(), 1);
      EXPECT_EQ(link->RequestAccess(""), 1);
      EXPECT_TRUE(link->IsAccessGranted());
    }
    return link;
  }

 private:
  TempDir dir_;
  std::unique_ptr<lyr_emu::RecorderStore> store_;
  std::unique_ptr<lyr_emu::RecorderEmulator> emulator_;
};

}  // namespace lyr_test
