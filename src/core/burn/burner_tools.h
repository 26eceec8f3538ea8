#pragma once
// The burner tool runner: the only code that touches optical drives. It never
// talks to a drive itself; it runs an external disc writer (cdrecord 3.x,
// cdrskin or wodim) and an image maker (mkisofs, genisoimage or xorrisofs) as
// child processes started from argument vectors (no shell), reads what they
// print through a pipe without blocking, and turns that text into drive lists,
// disc facts, image sizes, progress percentages and error lines.
//
// One object per owner: the application owns one, tests make their own. One
// child runs at a time. The jobs use the burn starters and pollers from their
// worker thread; the panel uses the scan, the disc query and blanking.
//
// Results of the form "0 / 1" are 0 for success and 1 for failure.

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/result.h"

namespace lyr::burn {

// Media-kind bits: a drive capability, the kind of disc in a drive, and the
// kind of disc a job writes.
inline constexpr uint32_t MEDIA_CDROM = 0x0001;
inline constexpr uint32_t MEDIA_CDR = 0x0002;
inline constexpr uint32_t MEDIA_CDRW = 0x0004;
inline constexpr uint32_t MEDIA_DVDROM = 0x0010;
inline constexpr uint32_t MEDIA_DVDR = 0x0020;
inline constexpr uint32_t MEDIA_DVDR_DL = 0x0040;
inline constexpr uint32_t MEDIA_DVDRW = 0x0080;
inline constexpr uint32_t MEDIA_DVDPLUSR = 0x0100;
inline constexpr uint32_t MEDIA_DVDPLUSR_DL = 0x0200;
inline constexpr uint32_t MEDIA_DVDPLUSRW = 0x0400;
inline constexpr uint32_t MEDIA_DVDRAM = 0x1000;
inline constexpr uint32_t kMediaCdKinds = 0x000E;
inline constexpr uint32_t kMediaRewritableKinds = 0x1484;
inline constexpr uint32_t kMediaWritableKinds = 0x1FEE;

// One drive, copied by value.
struct BURN_DRIVE_INFO {
  char name[256] = {};  // vendor immediately followed by product
  uint32_t device = 0;  // bus << 16 | target << 8 | lun
  uint32_t read_capabilities = 0;
  uint32_t write_capabilities = 0;
};

// One file of a data disc: where it is on this computer and where it goes on
// the disc (leading separator included, "\" or "/").
struct GraftPoint {
  std::string local_path;
  std::string disc_path;
};

// Which disc writer was found; its own commands and output differ.
enum class WriterKind { kNone, kCdrecord, kCdrskin, kWodim };

// The exit code the pollers and CollectToolOutput report while the child runs.
inline constexpr int kStillActive = 259;

// The longest volume label the image makers take (ISO 9660: 32 bytes).
inline constexpr size_t kMaxVolumeLabel = 32;
// The longest file or folder name on the disc, in characters (Joliet: 64);
// the image maker cuts a longer one, extension and all.
inline constexpr size_t kMaxDiscNameChars = 64;
// How long the drive scan and the disc query may take before the writer is
// taken for hung and stopped.
inline constexpr std::chrono::seconds kToolQueryLimit{120};

// The lines of a tool's text as one line: "first; second".
std::string OneLine(std::string_view text);

// A disc name the burn shortened: the disc path as laid out, and as burned.
struct ShortenedName {
  std::string from;
  std::string to;
};
// Shortens every disc path component longer than kMaxDiscNameChars, keeping
// a file's extension and every name in its folder unique (no case); the
// same folder is shortened alike in every path. Returns what it changed.
std::vector<ShortenedName> FitDiscNames(std::vector<GraftPoint>* grafts);

std::string FormatDeviceAddress(uint32_t device);
uint32_t ParseDeviceAddress(std::string_view text);  // 0xFFFFFFFF when malformed

class BurnerTools {
 public:
  BurnerTools();
  ~BurnerTools();  // stops a running child and closes the pipes
  BurnerTools(const BurnerTools&) = delete;
  BurnerTools& operator=(const BurnerTools&) = delete;

  // Finds the tools (beside the executable, then PATH; LYR_CDRECORD and
  // LYR_MKISOFS name others) and learns the writer's kind from its version line.
  void InitBurnerTools();
  void CloseBurnerTools();
  void SetBurnTempFolder(const std::string& folder);  // stored with a trailing '/'

  // Uses these two tools instead of searching (tests, the stand-in writer);
  // the writer's kind is learnt from its version line all the same.
  void UseTools(const std::string& writer_path, const std::string& image_maker_path);

  WriterKind Writer() const;
  const std::string& WriterPath() const;
  const std::string& ImageMakerPath() const;

  // Fails (last error 1117) when the writer refuses the scan, naming what it
  // printed in LastToolError.
  int ScanBurnerDrives();
  int GetWriterCount() const;
  // Every drive the last scan found, writers or not, in the scan's order.
  std::vector<BURN_DRIVE_INFO> AllDrives() const;
  BURN_DRIVE_INFO GetWriterInfo(int index) const;
  int GetDriveCapabilities(uint32_t device, uint32_t* read_capabilities, uint32_t* write_capabilities) const;
  int QueryDiscInfo(uint32_t device, uint32_t* disc_kind, uint64_t* free_bytes);
  int BlankDisc(uint32_t device, int mode);

  // Writes the path list into the temporary folder and asks the image maker
  // for the image size in 2048-byte sectors.
  // Fails (last error 13) when the image maker refuses the label, a name or
  // a file, with its text in LastToolError.
  int EstimateImageSize(const std::vector<GraftPoint>& grafts, uint64_t* sectors,
                        const std::string& volume_label = "CD");

  // Return as soon as the child runs; the job then polls every 100 ms.
  int StartDataBurn(uint32_t device, const std::string& volume_label, const std::vector<GraftPoint>& grafts,
                    uint64_t total_bytes, uint32_t media_kind);
  int StartAudioBurn(uint32_t device, const std::vector<std::string>& wave_paths);
  // Writes the data disc's ISO 9660 image to a file with the image maker alone
  // (no writer, no drive). Polled with PollDataBurn like a burn.
  int StartImageFile(const std::string& volume_label, const std::vector<GraftPoint>& grafts,
                     const std::string& image_path);
  // One poll: the exit code (kStillActive while the tools run), the percent
  // (100 once they ended or printed an error) and the error lines printed
  // since the last poll, each ending in "\r\n". Warnings are no errors; a
  // line split between two reads is read whole at the next poll; tools that
  // end with a non-zero status without an error line give the error
  // "burning ended with exit status N". 1 when no child exists.
  int PollDataBurn(int* exit_code, int* percent, std::string* error_text);
  int PollAudioBurn(int* exit_code, int* percent, std::string* error_text);

  // One child from an argument vector (no shell); its standard output and
  // standard error go to the output pipe, its standard input is empty.
  int StartToolProcess(const std::vector<std::string>& argv);
  // What the child printed since the last call. Without `wait` one pass;
  // with it, until the child has ended and its output is drained. The exit
  // code is kStillActive while it runs. 1 when no child exists.
  int CollectToolOutput(int* exit_code, std::string* text, bool wait);

  // Cancel: SIGINT to the child's process group; the job keeps polling until
  // the child has ended. Stop ends the child and releases it.
  void InterruptToolProcess();
  void StopToolProcess();

  // Why the last scan, disc query, blank, size estimate or burn start
  // failed, in the tool's own words where it gave some, its lines joined
  // as OneLine does; empty when nothing was said.
  const std::string& LastToolError() const;
  // What the scan and the disc query wait at most (kToolQueryLimit).
  void SetQueryLimit(std::chrono::milliseconds limit);
  // Polled while the scan, the disc query and blanking wait on the writer:
  // when it answers true the writer is interrupted, then stopped, and the
  // call fails with last error 1223. Empty: never.
  void SetCancelCheck(std::function<bool()> cancelled);

 private:
  int PollBurn(bool audio, int* exit_code, int* percent, std::string* error_text);
  // A writer command to its end; `bounded` by the query limit. The exit code
  // when it ended.
  int RunWriter(std::vector<std::string> args, std::string* out, bool bounded, int* exit_code = nullptr);
  void RememberLines(std::string_view text);

  struct State;
  State* state_;
};

// The drive scan as the programs call it: a Status (the code is the last
// error the scan set, 0 when it named none) and the writers it found.
class BurnerDrives {
 public:
  explicit BurnerDrives(BurnerTools& tools) : tools_(tools) {}

  Status ScanBurnerDrives() {
    return CallWithLastError([&] { return tools_.ScanBurnerDrives() == 0; }, "drive scan");
  }
  // The writers of the last scan, in its order.
  std::vector<BURN_DRIVE_INFO> Writers() const {
    std::vector<BURN_DRIVE_INFO> writers;
    for (int i = 0; i < tools_.GetWriterCount(); ++i) writers.push_back(tools_.GetWriterInfo(i));
    return writers;
  }

 private:
  BurnerTools& tools_;
};

}  // namespace lyr::burn
