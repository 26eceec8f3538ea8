#pragma once
#include <cstddef>
#include <cstdint>

// The recorder's sector protocol: window, command block layout, command codes
// and reply sizes. Shared by the link and the stand-in recorder.
namespace lyr::protocol {

constexpr uint32_t kSectorSize = 512;
constexpr uint32_t kWindowStart = 2048;
constexpr uint32_t kWindowEnd = 0x5000000;
constexpr uint64_t kWindowEndByte = static_cast<uint64_t>(kWindowEnd) * kSectorSize;  // 40 GiB
constexpr uint32_t kBlockTag = 0x4F464E49;  // "INFO" in little-endian order
constexpr size_t kBlockSize = 512;

// Command block fields.
constexpr size_t kOffTag = 0;
constexpr size_t kOffPosition = 4;
constexpr size_t kOffChecksum = 8;
constexpr size_t kOffGroup = 12;
constexpr size_t kOffCode = 14;
constexpr size_t kOffArgs = 16;
constexpr size_t kMaxArgBytes = kBlockSize - kOffArgs;

// Group 0: recorder-wide commands.
constexpr uint16_t kGroupRecorder = 0;
constexpr uint16_t kCodeDeviceInfo = 0;
constexpr uint16_t kCodeRequestAccess = 1;
constexpr uint16_t kCodeRelease = 3;
constexpr uint16_t kCodeBeginFirmwareUpdate = 4;
constexpr uint16_t kCodeHello = 5;
constexpr uint16_t kCodeWriteSettings = 6;
constexpr uint16_t kCodeSetClock = 7;
constexpr uint16_t kCodeReadSettings = 8;
constexpr uint16_t kCodeBeginFirmwareReadback = 9;
constexpr uint16_t kCodeFirmwareStatus = 10;
constexpr uint16_t kCodeResetFileCounter = 11;
constexpr uint16_t kCodeHighestIndex = 14;
constexpr uint16_t kCodeGetRecorderText = 15;
constexpr uint16_t kCodeSetRecorderText = 16;

// Group 1: commands on recordings.
constexpr uint16_t kGroupRecordings = 1;
constexpr uint16_t kCodeMemoryStatus = 0;
constexpr uint16_t kCodeDelete = 1;
constexpr uint16_t kCodeFormat = 2;
constexpr uint16_t kCodeRecordingInfo = 4;
constexpr uint16_t kCodeReadData = 5;
constexpr uint16_t kCodeRecordingList = 6;
constexpr uint16_t kCodeMarkCopied = 7;
constexpr uint16_t kCodeCopiedMark = 8;

// Reply sizes read from the window and record sizes kept from them.
constexpr size_t kReplySmall = 512;
constexpr size_t kReplyRecordingInfo = 1024;
constexpr size_t kReplyRecorderText = 2048;
constexpr size_t kDeviceRecordSize = 144;
constexpr size_t kMemoryStatusSize = 36;
constexpr size_t kSettingsRecordSize = 248;
constexpr size_t kRecordingRecordSize = 652;
constexpr size_t kFirmwareStatusSize = 20;
constexpr size_t kRecorderTextMax = 255;
constexpr size_t kDataPiece = 65536;
constexpr size_t kFirmwarePiece = 2048;

// Device record fields.
constexpr size_t kDevFirmwareVersion = 122;
constexpr size_t kDevHardwareMcu = 124;
constexpr size_t kDevClock = 126;  // 6 x u16: year, month, day, hour, minute, second
constexpr size_t kDevStatus = 138;
constexpr size_t kDevStatus2 = 140;
constexpr uint16_t kRefusalPattern = 0x22B8;  // 8888 at 138 with 0 at 140
constexpr uint16_t kMinimumFirmware = 6000;

// Memory status fields.
constexpr size_t kMemLastOpFailed = 4;
constexpr size_t kMemBusy = 8;
constexpr size_t kMemSizeUnits = 12;
constexpr size_t kMemUnitSize = 16;
constexpr size_t kMemFreeUnits = 20;
constexpr size_t kMemListCapacity = 28;
constexpr size_t kMemListCount = 32;

// Recording entries with bit 24 set are not listed.
constexpr uint32_t kEntryFlagBit = 24;

// Codec ids of the recording record and of the settings record's file type.
constexpr uint32_t kCodecLinearPcm = 0x70001;
constexpr uint32_t kCodecMpegLayer2 = 0x7000F;

}  // namespace lyr::protocol
