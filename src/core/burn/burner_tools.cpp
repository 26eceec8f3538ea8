#include "burn/burner_tools.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>

#include "burn/tool_output.h"
#include "burn/tool_process.h"
#include "platform/last_error.h"
#include "platform/trace.h"

namespace lyr::burn {

struct BurnerTools::State {
  std::string writer_path;
  std::string image_maker_path;
  WriterKind kind = WriterKind::kNone;
  std::vector<std::string> writer_names;  // what its error lines begin with
  std::string temp_folder;
  ToolProcess child;
  std::string carry;  // an unfinished line of the running burn, for the next poll
  bool reported_error = false;
  std::vector<BURN_DRIVE_INFO> all_drives;
  std::vector<BURN_DRIVE_INFO> writers;
  int audio_track_count = 0;
  std::string last_error;
  std::chrono::milliseconds query_limit = kToolQueryLimit;
  std::function<bool()> cancelled;
  std::vector<std::string>
      recent_lines;  // the running burn's last lines, for a failure without an error line
};

std::string FormatDeviceAddress(uint32_t device) {
  return std::to_string(static_cast<int>(device >> 16)) + "," + std::to_string((device >> 8) & 0xFF) + "," +
         std::to_string(device & 0xFF);
}

uint32_t ParseDeviceAddress(std::string_view text) {
  const size_t c1 = text.find(',');
  if (c1 == std::string_view::npos) return 0xFFFFFFFFu;
  const size_t c2 = text.find(',', c1 + 1);
  if (c2 == std::string_view::npos) return 0xFFFFFFFFu;
  auto number = [](std::string_view s) {
    uint32_t v = 0;
    for (char c : s) {
      if (c < '0' || c > '9') break;
      v = v * 10 + static_cast<uint32_t>(c - '0');
    }
    return v;
  };
  return (number(text.substr(0, c1)) << 16) + (number(text.substr(c1 + 1, c2 - c1 - 1)) << 8) +
         number(text.substr(c2 + 1));
}

namespace {

std::string ExecutableFolder() {
  char path[4096];
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return {};
  std::string p(path, static_cast<size_t>(n));
  const size_t slash = p.rfind('/');
  return slash == std::string::npos ? std::string() : p.substr(0, slash);
}

bool IsExecutableFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// `name` in `folder`, or empty.
std::string InFolder(const std::string& folder, const std::string& name) {
  if (folder.empty()) return {};
  const std::string path = folder + "/" + name;
  return IsExecutableFile(path) ? path : std::string();
}

std::string OnPath(const std::string& name) {
  if (name.find('/') != std::string::npos) return IsExecutableFile(name) ? name : std::string();
  const char* path = std::getenv("PATH");
  std::string_view dirs = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
  while (true) {
    const size_t colon = dirs.find(':');
    const std::string found = InFolder(std::string(dirs.substr(0, colon)), name);
    if (!found.empty()) return found;
    if (colon == std::string_view::npos) break;
    dirs.remove_prefix(colon + 1);
  }
  return {};
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// How long an interrupted tool may take to end by itself before it is killed.
constexpr auto kInterruptGrace = std::chrono::seconds(3);

enum class RunEnd { Ended, NotStarted, TimedOut, Cancelled };

struct ToolRun {
  RunEnd end = RunEnd::NotStarted;
  int exit_code = kStillActive;
};

// Runs one command to its end and returns what it printed. A tool still
// running after `limit` is killed; one the user cancels is interrupted
// first, then killed.
ToolRun RunToEnd(ToolProcess& child, const std::vector<std::string>& argv, std::string* out,
                 std::chrono::milliseconds limit = std::chrono::milliseconds::max(),
                 const std::function<bool()>& cancelled = {}) {
  out->clear();
  if (!child.Start({argv})) return {};
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    const int code = child.ExitCode(kStillActive);
    const size_t got = child.ReadAvailable(out);
    if (code != kStillActive && got == 0) {
      child.Stop();
      return {RunEnd::Ended, code};
    }
    if (cancelled && cancelled()) {
      child.Interrupt();
      const auto asked = std::chrono::steady_clock::now();
      while (child.ExitCode(kStillActive) == kStillActive &&
             std::chrono::steady_clock::now() - asked < kInterruptGrace) {
        child.ReadAvailable(out);
        child.WaitForOutput(20);
      }
      child.Stop();
      return {RunEnd::Cancelled, kStillActive};
    }
    if (limit != std::chrono::milliseconds::max() && std::chrono::steady_clock::now() - start > limit) {
      child.Stop();
      return {RunEnd::TimedOut, kStillActive};
    }
    child.WaitForOutput(20);
  }
}

}  // namespace

std::string OneLine(std::string_view text) {
  std::string joined;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(at, end - at);
    at = end + 1;
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.remove_suffix(1);
    if (line.empty()) continue;
    if (!joined.empty()) joined += "; ";
    joined += line;
  }
  return joined;
}

namespace {

// What a tool said about its failure: its error lines, else its last lines
// (up to three), one per line.
std::string ToolText(WriterKind kind, std::string_view out, const std::vector<std::string>& names) {
  std::string text = WriterErrorLines(kind, out, names, true);
  if (text.empty()) {
    std::vector<std::string_view> last;
    size_t at = 0;
    while (at < out.size()) {
      size_t end = out.find('\n', at);
      if (end == std::string_view::npos) end = out.size();
      std::string_view line = out.substr(at, end - at);
      at = end + 1;
      while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.remove_suffix(1);
      if (line.empty()) continue;
      last.push_back(line);
      if (last.size() > 3) last.erase(last.begin());
    }
    for (auto line : last) text.append(line).append("\r\n");
  }
  return OneLine(text);
}

int WriterRank(WriterKind kind) {
  switch (kind) {
    case WriterKind::kCdrecord:
      return 0;
    case WriterKind::kCdrskin:
      return 1;
    case WriterKind::kWodim:
      return 2;
    case WriterKind::kNone:
      break;
  }
  return 3;
}

WriterKind ProbeWriter(ToolProcess& child, const std::string& path) {
  std::string out;
  if (RunToEnd(child, {path, "-version"}, &out, std::chrono::seconds(10)).end == RunEnd::NotStarted)
    return WriterKind::kNone;
  return WriterKindFromVersion(out);
}

// A path-list line's text: mkisofs reads "=" and "\" in a graft point as
// its own unless escaped.
std::string EscapeGraft(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '=' || c == '\\') out.push_back('\\');
    out.push_back(c);
  }
  return out;
}

int Fail(uint32_t code) {
  SetLastError(code);
  return 1;
}

}  // namespace

BurnerTools::BurnerTools() : state_(new State) {
  const char* tmp = std::getenv("TMPDIR");
  SetBurnTempFolder(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp");
}

BurnerTools::~BurnerTools() {
  CloseBurnerTools();
  delete state_;
}

void BurnerTools::InitBurnerTools() {
  CloseBurnerTools();
  const std::string beside = ExecutableFolder();
  std::string writer, maker;
  const char* env_writer = std::getenv("LYR_CDRECORD");
  if (env_writer != nullptr && *env_writer != '\0') {
    writer = OnPath(env_writer);
  } else {
    // Beside the executable first; among the writers found in one place,
    // cdrecord 3.x before cdrskin before wodim.
    for (int where = 0; where < 2 && writer.empty(); ++where) {
      WriterKind best = WriterKind::kNone;
      for (const char* name : {"cdrecord", "cdrskin", "wodim"}) {
        const std::string path = where == 0 ? InFolder(beside, name) : OnPath(name);
        if (path.empty()) continue;
        const WriterKind kind = ProbeWriter(state_->child, path);
        if (kind != WriterKind::kNone && WriterRank(kind) < WriterRank(best)) {
          best = kind;
          writer = path;
        }
      }
    }
  }
  const char* env_maker = std::getenv("LYR_MKISOFS");
  if (env_maker != nullptr && *env_maker != '\0') {
    maker = OnPath(env_maker);
  } else {
    for (int where = 0; where < 2 && maker.empty(); ++where)
      for (const char* name : {"mkisofs", "genisoimage", "xorrisofs"}) {
        maker = where == 0 ? InFolder(beside, name) : OnPath(name);
        if (!maker.empty()) break;
      }
  }
  UseTools(writer, maker);
}

void BurnerTools::UseTools(const std::string& writer_path, const std::string& image_maker_path) {
  StopToolProcess();
  state_->writer_path = writer_path;
  state_->image_maker_path = image_maker_path;
  state_->kind = writer_path.empty() ? WriterKind::kNone : ProbeWriter(state_->child, writer_path);
  state_->writer_names.clear();
  if (state_->kind != WriterKind::kNone) {
    state_->writer_names.push_back(WriterKindName(state_->kind));
    const std::string base = BaseName(writer_path);
    if (base != state_->writer_names.front()) state_->writer_names.push_back(base);
  }
  Trace("burn: writer %s (%s), image maker %s\n", writer_path.c_str(), WriterKindName(state_->kind),
        image_maker_path.c_str());
}

void BurnerTools::CloseBurnerTools() { StopToolProcess(); }

void BurnerTools::SetBurnTempFolder(const std::string& folder) {
  state_->temp_folder = folder;
  if (state_->temp_folder.empty() || state_->temp_folder.back() != '/') state_->temp_folder.push_back('/');
}

WriterKind BurnerTools::Writer() const { return state_->kind; }
const std::string& BurnerTools::WriterPath() const { return state_->writer_path; }
const std::string& BurnerTools::ImageMakerPath() const { return state_->image_maker_path; }

int BurnerTools::StartToolProcess(const std::vector<std::string>& argv) {
  state_->last_error.clear();
  const Status started = state_->child.Start({argv});
  if (!started) {
    Trace("burn: %s\n", started.error().Message().c_str());
    state_->last_error = started.error().Message();
    return Fail(started.error().code);
  }
  state_->carry.clear();
  state_->reported_error = false;
  state_->recent_lines.clear();
  return 0;
}

int BurnerTools::CollectToolOutput(int* exit_code, std::string* text, bool wait) {
  text->clear();
  if (!state_->child.Exists()) return Fail(kErrorInvalidParameter);
  for (;;) {
    *exit_code = state_->child.ExitCode(kStillActive);
    const size_t got = state_->child.ReadAvailable(text);
    if (!wait || (*exit_code != kStillActive && got == 0)) break;
    state_->child.WaitForOutput(1);
  }
  return 0;
}

void BurnerTools::StopToolProcess() {
  state_->child.Stop();
  state_->carry.clear();
}

void BurnerTools::InterruptToolProcess() { state_->child.Interrupt(); }

const std::string& BurnerTools::LastToolError() const { return state_->last_error; }
void BurnerTools::SetQueryLimit(std::chrono::milliseconds limit) { state_->query_limit = limit; }
void BurnerTools::SetCancelCheck(std::function<bool()> cancelled) {
  state_->cancelled = std::move(cancelled);
}

int BurnerTools::RunWriter(std::vector<std::string> args, std::string* out, bool bounded, int* exit_code) {
  if (state_->writer_path.empty()) return Fail(kErrorFileNotFound);
  args.insert(args.begin(), state_->writer_path);
  const ToolRun run =
      RunToEnd(state_->child, args, out, bounded ? state_->query_limit : std::chrono::milliseconds::max(),
               state_->cancelled);
  if (exit_code != nullptr) *exit_code = run.exit_code;
  const std::string command = BaseName(state_->writer_path) + " " + args[1];
  switch (run.end) {
    case RunEnd::Ended:
      return 0;
    case RunEnd::NotStarted:
      state_->last_error = command + " could not be started";
      return Fail(kErrorFileNotFound);
    case RunEnd::TimedOut:
      state_->last_error =
          command + " did not answer within " +
          std::to_string(std::chrono::duration_cast<std::chrono::seconds>(state_->query_limit).count()) +
          " s and was stopped";
      return Fail(kErrorIoDevice);
    case RunEnd::Cancelled:
      state_->last_error = command + " was stopped";
      return Fail(kErrorCancelled);
  }
  return Fail(kErrorIoDevice);
}

int BurnerTools::ScanBurnerDrives() {
  state_->last_error.clear();
  std::string out;
  int exit_code = 0;
  if (RunWriter({"-scanbus"}, &out, true, &exit_code) != 0) return 1;
  state_->all_drives.clear();
  state_->writers.clear();
  const std::vector<BURN_DRIVE_INFO> found = ParseScanOutput(out);
  // A writer that refuses the scan is no machine without drives.
  if (found.empty() && exit_code != 0) {
    state_->last_error = ToolText(state_->kind, out, state_->writer_names);
    if (state_->last_error.empty())
      state_->last_error = "-scanbus ended with exit status " + std::to_string(exit_code);
    return Fail(kErrorIoDevice);
  }
  for (BURN_DRIVE_INFO info : found) {
    const std::string dev = "dev=" + FormatDeviceAddress(info.device);
    // cdrskin leaves -prcap unimplemented; its -atip lists the drive's profiles.
    const std::vector<std::string> args = state_->kind == WriterKind::kCdrskin
                                              ? std::vector<std::string>{"-v", dev, "-atip"}
                                              : std::vector<std::string>{dev, "-prcap"};
    std::string caps;
    if (RunWriter(args, &caps, true) != 0) return 1;
    ParseCapabilities(state_->kind, caps, &info.read_capabilities, &info.write_capabilities);
    state_->all_drives.push_back(info);
    if (info.write_capabilities != 0) state_->writers.push_back(info);
  }
  return 0;
}

std::vector<BURN_DRIVE_INFO> BurnerTools::AllDrives() const { return state_->all_drives; }

int BurnerTools::GetWriterCount() const { return static_cast<int>(state_->writers.size()); }

BURN_DRIVE_INFO BurnerTools::GetWriterInfo(int index) const {
  if (index < 0 || index >= GetWriterCount()) return {};
  return state_->writers[static_cast<size_t>(index)];
}

int BurnerTools::GetDriveCapabilities(uint32_t device, uint32_t* read_capabilities,
                                      uint32_t* write_capabilities) const {
  for (const auto& d : state_->all_drives) {
    if (d.device != device) continue;
    *read_capabilities = d.read_capabilities;
    *write_capabilities = d.write_capabilities;
    return 0;
  }
  return 1;
}

int BurnerTools::QueryDiscInfo(uint32_t device, uint32_t* disc_kind, uint64_t* free_bytes) {
  *disc_kind = 0;
  *free_bytes = 0;
  state_->last_error.clear();
  const std::string dev = "dev=" + FormatDeviceAddress(device);
  std::string query, toc;
  // wodim refuses -minfo ("Bad Option"); its -atip and -toc say the same.
  const bool wodim = state_->kind == WriterKind::kWodim;
  if (RunWriter({dev, wodim ? "-atip" : "-minfo"}, &query, true) != 0) return 1;
  if (DiscQueryNeedsToc(state_->kind, query) && RunWriter({dev, "-toc"}, &toc, true) != 0) return 1;
  if (ParseDiscInfo(state_->kind, query, toc, disc_kind, free_bytes) != 0) {
    state_->last_error = ToolText(state_->kind, query, state_->writer_names);
    return Fail(kErrorIoDevice);
  }
  return 0;
}

int BurnerTools::BlankDisc(uint32_t device, int mode) {
  if (mode != 0) return Fail(kErrorInvalidParameter);
  const std::string dev = "dev=" + FormatDeviceAddress(device);
  // cdrecord 3.x takes the option with a dash as the system always wrote it;
  // cdrskin and wodim document it without.
  const std::string blank = state_->kind == WriterKind::kCdrecord ? "-blank=" : "blank=";
  std::string out;
  state_->last_error.clear();
  // Blanking a whole disc may take long: no time limit, but a cancel.
  if (RunWriter({"gracetime=0", dev, blank + "fast"}, &out, false) != 0) return 1;
  if (BlankAsksForFull(out) && RunWriter({"gracetime=0", dev, blank + "all"}, &out, false) != 0) return 1;
  return 0;
}

namespace {

// The path list: one "disc/path=local/path" line per file. Disc paths lose
// their leading separator and use "/".
int WritePathList(const std::string& file, const std::vector<GraftPoint>& grafts) {
  std::string text;
  for (const auto& g : grafts) {
    if (g.disc_path.empty() || g.local_path.empty()) return Fail(kErrorInvalidParameter);
    // One line per file: a name holding a line break would split its line.
    if (g.disc_path.find_first_of("\r\n") != std::string::npos ||
        g.local_path.find_first_of("\r\n") != std::string::npos)
      return Fail(kErrorInvalidParameter);
    std::string disc = g.disc_path.substr(1);
    for (char& c : disc)
      if (c == '\\') c = '/';
    text += EscapeGraft(disc) + "=" + EscapeGraft(g.local_path) + "\n";
  }
  if (text.empty()) return Fail(kErrorInvalidParameter);
  const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return Fail(kErrorPathNotFound);
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n <= 0) {
      if (n < 0 && errno == EINTR) continue;
      ::close(fd);
      return Fail(kErrorIoDevice);
    }
    done += static_cast<size_t>(n);
  }
  return ::close(fd) == 0 ? 0 : Fail(kErrorIoDevice);
}

std::vector<std::string> ImageMakerArgs(const std::string& maker, const std::string& label,
                                        const std::string& path_list) {
  return {maker, "-graft-points", "-joliet", "-volid", label, "-path-list", path_list};
}

}  // namespace

int BurnerTools::EstimateImageSize(const std::vector<GraftPoint>& grafts, uint64_t* sectors,
                                   const std::string& volume_label) {
  *sectors = 0;
  state_->last_error.clear();
  if (state_->image_maker_path.empty()) return Fail(kErrorFileNotFound);
  const std::string list = state_->temp_folder + "pathlist.lst";
  if (grafts.empty()) return Fail(kErrorInvalidParameter);
  if (WritePathList(list, grafts) != 0) return 1;
  std::vector<std::string> args = ImageMakerArgs(state_->image_maker_path, volume_label, list);
  args.insert(args.begin() + 1, {"-print-size", "-quiet"});
  std::string out;
  const ToolRun run = RunToEnd(state_->child, args, &out);
  if (run.end != RunEnd::Ended) return Fail(kErrorFileNotFound);
  // The maker refused the label, a name or a file: it never gets to the writer.
  if (run.exit_code != 0) {
    state_->last_error = ToolText(WriterKind::kWodim, out, {BaseName(state_->image_maker_path)});
    return Fail(kErrorInvalidData);
  }
  *sectors = ParseImageSize(out);
  return 0;
}

int BurnerTools::StartDataBurn(uint32_t device, const std::string& volume_label,
                               const std::vector<GraftPoint>& grafts, uint64_t /*total_bytes*/,
                               uint32_t media_kind) {
  if (state_->writer_path.empty()) return Fail(kErrorFileNotFound);
  const std::string label = volume_label.empty() ? "CD" : volume_label;
  uint64_t sectors = 0;
  if (EstimateImageSize(grafts, &sectors, label) != 0) return 1;
  // No size means the image maker could not read the list or its files.
  if (sectors == 0) {
    state_->last_error = "the image maker gave no image size";
    return Fail(kErrorInvalidData);
  }
  const bool cdrecord = state_->kind == WriterKind::kCdrecord;
  std::vector<std::string> writer = {state_->writer_path,
                                     "gracetime=0",
                                     "dev=" + FormatDeviceAddress(device),
                                     "driveropts=burnfree",
                                     (media_kind & kMediaCdKinds) != 0 ? "-tao" : "-dao",
                                     (cdrecord ? "-tsize=" : "tsize=") + std::to_string(sectors) + "s",
                                     "-"};
  const Status started = state_->child.Start(
      {ImageMakerArgs(state_->image_maker_path, label, state_->temp_folder + "pathlist.lst"), writer});
  if (!started) {
    state_->last_error = started.error().Message();
    return Fail(started.error().code);
  }
  state_->carry.clear();
  state_->reported_error = false;
  state_->recent_lines.clear();
  return 0;
}

int BurnerTools::StartAudioBurn(uint32_t device, const std::vector<std::string>& wave_paths) {
  if (wave_paths.empty()) return Fail(kErrorInvalidParameter);
  if (state_->writer_path.empty()) return Fail(kErrorFileNotFound);
  state_->audio_track_count = static_cast<int>(wave_paths.size());
  std::vector<std::string> argv = {state_->writer_path,   "gracetime=0", "dev=" + FormatDeviceAddress(device),
                                   "driveropts=burnfree", "-dao",        "-pad"};
  for (const std::string& path : wave_paths) {
    argv.push_back("padsize=150s");
    // A track is a file name, never an option.
    argv.push_back(path.empty() || path.front() == '/' ? path : "./" + path);
  }
  return StartToolProcess(argv);
}

int BurnerTools::StartImageFile(const std::string& volume_label, const std::vector<GraftPoint>& grafts,
                                const std::string& image_path) {
  if (state_->image_maker_path.empty()) return Fail(kErrorFileNotFound);
  const std::string list = state_->temp_folder + "pathlist.lst";
  if (grafts.empty()) return Fail(kErrorInvalidParameter);
  if (WritePathList(list, grafts) != 0) return 1;
  std::vector<std::string> argv =
      ImageMakerArgs(state_->image_maker_path, volume_label.empty() ? "CD" : volume_label, list);
  argv.push_back("-o");
  argv.push_back(image_path);
  return StartToolProcess(argv);
}

namespace {

// The part of the text whose lines are complete; the rest waits for the next
// poll so that a line split between two reads is still seen whole.
std::string TakeCompleteLines(std::string& carry, std::string chunk, bool ended) {
  std::string text = carry + chunk;
  carry.clear();
  if (ended) return text;
  const size_t nl = text.rfind('\n');
  if (nl == std::string::npos) {
    carry = std::move(text);
    return {};
  }
  carry = text.substr(nl + 1);
  text.resize(nl + 1);
  return text;
}

}  // namespace

int BurnerTools::PollDataBurn(int* exit_code, int* percent, std::string* error_text) {
  return PollBurn(false, exit_code, percent, error_text);
}

int BurnerTools::PollAudioBurn(int* exit_code, int* percent, std::string* error_text) {
  return PollBurn(true, exit_code, percent, error_text);
}

int BurnerTools::PollBurn(bool audio, int* exit_code, int* percent, std::string* error_text) {
  std::string chunk;
  if (CollectToolOutput(exit_code, &chunk, false) != 0) return 1;
  error_text->clear();
  const bool ended = *exit_code != kStillActive;
  const std::string text = TakeCompleteLines(state_->carry, std::move(chunk), ended);
  // The writers name themselves on warnings too (cdrecord run without root
  // warns that it cannot lock its memory on every burn); a warning is no
  // error. Lines of the final read count as well. The image maker of a data
  // burn names itself on its errors.
  *error_text = WriterErrorLines(state_->kind, text, state_->writer_names, true);
  if (!audio && !state_->image_maker_path.empty())
    *error_text += WriterErrorLines(WriterKind::kWodim, text, {BaseName(state_->image_maker_path)}, true);
  RememberLines(text);
  if (ended) {
    StopToolProcess();
    *percent = 100;
  } else if (!error_text->empty() || (!audio && text.find("Max brk space used") != std::string::npos)) {
    *percent = 100;
  } else if (const int p =
                 audio ? ParseAudioProgress(text, state_->audio_track_count) : ParseImageProgress(text);
             p >= 0) {
    *percent = p;
  }
  if (!error_text->empty()) state_->reported_error = true;
  // A tool that failed without an error line still failed, in its last words.
  if (ended && *exit_code != 0 && !state_->reported_error) {
    *error_text += "burning ended with exit status " + std::to_string(*exit_code) + "\r\n";
    for (const std::string& line : state_->recent_lines) *error_text += line + "\r\n";
    state_->reported_error = true;
  }
  return 0;
}

// The last few lines the tools printed that are no progress lines.
void BurnerTools::RememberLines(std::string_view text) {
  auto& lines = state_->recent_lines;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(at, end - at);
    at = end + 1;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.remove_suffix(1);
    if (line.empty() || line.find("% done") != std::string_view::npos ||
        line.find(" MB written") != std::string_view::npos)
      continue;
    lines.emplace_back(line);
    if (lines.size() > 3) lines.erase(lines.begin());
  }
}

namespace {

// Characters of a UTF-8 text: the bytes that start one.
size_t CharCount(std::string_view text) {
  return static_cast<size_t>(std::count_if(
      text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

// The first `chars` characters of a UTF-8 text.
std::string FirstChars(std::string_view text, size_t chars) {
  size_t at = 0, seen = 0;
  for (; at < text.size(); ++at) {
    if ((static_cast<unsigned char>(text[at]) & 0xC0) != 0x80 && seen++ == chars) break;
  }
  return std::string(text.substr(0, at));
}

std::string Folded(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

std::vector<std::string> Components(const std::string& disc_path) {
  std::vector<std::string> parts;
  std::string part;
  for (char c : disc_path) {
    if (c == '/' || c == '\\') {
      if (!part.empty()) parts.push_back(std::move(part));
      part.clear();
    } else {
      part.push_back(c);
    }
  }
  if (!part.empty()) parts.push_back(std::move(part));
  return parts;
}

}  // namespace

std::vector<ShortenedName> FitDiscNames(std::vector<GraftPoint>* grafts) {
  // Keys are disc paths as laid out ("/A/B"); a folder's names are those of
  // its children as laid out that need no change, and those given so far.
  std::map<std::string, std::set<std::string>> taken;
  for (const auto& g : *grafts) {
    std::string parent;
    for (const std::string& part : Components(g.disc_path)) {
      if (CharCount(part) <= kMaxDiscNameChars) taken[parent].insert(Folded(part));
      parent += "/" + part;
    }
  }
  std::map<std::string, std::string> given;  // path as laid out -> its last component as burned
  std::vector<ShortenedName> changed;
  for (auto& g : *grafts) {
    const std::vector<std::string> parts = Components(g.disc_path);
    std::string parent, burned;
    for (size_t i = 0; i < parts.size(); ++i) {
      const std::string& part = parts[i];
      const std::string path = parent + "/" + part;
      auto it = given.find(path);
      if (it == given.end()) {
        std::string name = part;
        if (CharCount(part) > kMaxDiscNameChars) {
          // A file keeps its extension (".wav", ".txt"); a folder has none.
          const size_t dot = part.rfind('.');
          const bool file = i + 1 == parts.size();
          const std::string extension =
              file && dot != std::string::npos && dot > 0 && part.size() - dot <= 8 ? part.substr(dot) : "";
          const std::string base = part.substr(0, part.size() - extension.size());
          for (int n = 0;; ++n) {
            const std::string suffix = n == 0 ? "" : "~" + std::to_string(n);
            name = FirstChars(base, kMaxDiscNameChars - CharCount(extension) - suffix.size()) + suffix +
                   extension;
            if (taken[parent].insert(Folded(name)).second) break;
          }
          changed.push_back({path, burned + "/" + name});
        }
        it = given.emplace(path, name).first;
      }
      burned += "/" + it->second;
      parent = path;
    }
    g.disc_path = burned;
  }
  return changed;
}

}  // namespace lyr::burn
