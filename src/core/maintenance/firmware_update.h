#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "job/job_reporter.h"
#include "link/recorder_link.h"
#include "platform/result.h"

namespace lyr {

// The update file (".coe"): a scrambled image and an 8-byte check trailer.
inline constexpr size_t kMaxUpdateFileSize = 2097152;
inline constexpr size_t kUpdateTrailerSize = 8;
inline constexpr uint32_t kUpdateImageMagic = 0x012D8513;
inline constexpr uint32_t kUpdateImageMinimumTarget = 0x6000000;  // header u32 at offset 4
inline constexpr size_t kUpdateImageTextOffset1 = 12;
inline constexpr size_t kUpdateImageTextField1 = 16;
inline constexpr size_t kUpdateImageTextOffset2 = 28;
inline constexpr const char* kUpdateImageNames[] = {"Solvane ESD", "QFS 1.1"};

// Texts of the update procedure.
inline constexpr const char* kUpdateOpenTitle = "Open Update File";
inline constexpr const char* kUpdateFileFilter = "Torvi Update File (*.coe)|*.coe|All Files (*.*)|*.*|";
inline constexpr const char* kUpdateFormatError = "Update file format is error, please check.";
inline constexpr const char* kUpdateMemoryError =
    "Memroy is not enough, Update failed.\nplease contact with the distributor.";
inline constexpr const char* kUpdateReadError = "Update File read error, please check.";
inline constexpr const char* kUpdateNotLyr = "The machine connected is not a LYR, update failed";
inline constexpr const char* kUpdateProblem =
    "The LYR encountered a problem, Update failed.\nplease contact with the distributor.";
inline constexpr const char* kVerifyProblem =
    "The LYR encountered a problem, verify failed.\nplease contact with the distributor.";
inline constexpr const char* kVerifyFailed = "Verify failed.\nplease contact with the distributor.";
inline constexpr const char* kUpdateSucceeded =
    "Successfully Updated.\nOnce the OK button is pressed and the program is stopped.\nUnplug the USB cable, "
    "restart the program and connect the LYR.";
inline constexpr const char* kCaptionError = "Error";
inline constexpr const char* kCaptionWarning = "Warning";
inline constexpr const char* kCaptionInformation = "Information";

// Unscrambles an update file of `length` bytes into `out`: 0 with the image
// length (length - 8) in `image_length`; -1 a missing buffer or `out_capacity`
// below the image length; -3 a length that is not a multiple of 4; -2 a file
// too short for its trailer, or a trailer that does not match.
int UnscrambleUpdate(uint8_t* out, size_t out_capacity, const uint8_t* in, size_t length,
                     size_t* image_length);

// The trailer of a scrambled image: byte sum and word exclusive-or.
void UpdateTrailer(std::span<const uint8_t> scrambled, uint32_t* sum, uint32_t* word_xor);

// Whether an unscrambled image carries the header an update needs (magic and
// the two names); the target field at offset 4 is checked with the recorder.
bool IsUpdateImageHeaderValid(std::span<const uint8_t> image);
uint32_t UpdateImageTarget(std::span<const uint8_t> image);

// How an update ended.
enum class FirmwareUpdateOutcome {
  kUpdated = 0,      // every piece written and read back equal; recorder released
  kFileRefused,      // too long, unreadable, or not an update file
  kNotLyr,           // the image or the recorder is not for this update
  kUpdateFailed,     // a write to the recorder failed (it is left in its update state)
  kVerifyProblem,    // the recorder failed during the read-back
  kVerifyFailed,     // the read-back differed, or did not cover the image
  kCancelled,        // stopped before anything was sent
  kVerifyCancelled,  // stopped after the image was written, before its read-back matched:
                     // the recorder holds it unverified and is not released
};

// Loads and checks an update file: the image, or the outcome with its message
// already shown.
struct LoadedUpdate {
  FirmwareUpdateOutcome outcome = FirmwareUpdateOutcome::kFileRefused;
  std::vector<uint8_t> image;
};
LoadedUpdate LoadUpdateFile(const std::string& path, JobReporter& reporter);

// Sends a checked image to the recorder in 2048-byte pieces, reads it back
// and compares every piece; on success releases the recorder ("Safely
// Remove") and shows the success message. A cancel is taken before the first
// write and between read-back pieces, never between writes. `recorder_firmware` is the device
// record's firmware version. Every failure is shown through `reporter`.
FirmwareUpdateOutcome SendFirmwareImage(RecorderLink& link, uint16_t recorder_firmware,
                                        std::span<const uint8_t> image, JobReporter& reporter);

// The whole update from a file: LoadUpdateFile, then SendFirmwareImage.
FirmwareUpdateOutcome UpdateFirmware(RecorderLink& link, uint16_t recorder_firmware, const std::string& path,
                                     JobReporter& reporter);

}  // namespace lyr
