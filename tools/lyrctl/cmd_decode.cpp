// lyrctl decode: an MPEG-1/2 Layer II file to a 16-bit stereo WAVE file,
// decoded frame by frame with the player's decoder.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <vector>

#include "commands.h"
#include "decoder/layer2_stream.h"
#include "platform/byte_order.h"
#include "platform/unique_fd.h"
#include "text_output.h"

namespace lyrctl {
namespace {

using File = std::unique_ptr<FILE, int (*)(FILE*)>;

constexpr size_t kWaveHeaderSize = 44;
constexpr uint64_t kMaxWaveData = std::numeric_limits<uint32_t>::max() - (kWaveHeaderSize - 8);

// Canonical 44-byte header of 16-bit stereo PCM.
void BuildStereoWaveHeader(uint8_t* h, uint32_t sample_rate, uint32_t data_bytes) {
  std::memcpy(h, "RIFF", 4);
  lyr::PutU32(h + 4, data_bytes + static_cast<uint32_t>(kWaveHeaderSize - 8));
  std::memcpy(h + 8, "WAVEfmt ", 8);
  lyr::PutU32(h + 16, 16);
  lyr::PutU16(h + 20, 1);
  lyr::PutU16(h + 22, 2);
  lyr::PutU32(h + 24, sample_rate);
  lyr::PutU32(h + 28, sample_rate * 4);
  lyr::PutU16(h + 32, 4);
  lyr::PutU16(h + 34, 16);
  std::memcpy(h + 36, "data", 4);
  lyr::PutU32(h + 40, data_bytes);
}

lyr::Error OsFailure(const std::string& what, const std::string& path) {
  return lyr::Error::Os(errno, what + " " + LocalShownText(path));
}

// Whether the file at `path` starts with the same bytes as `fd` (both
// `size` bytes long); up to the first 64 KiB are compared.
bool SameStart(int fd, const std::string& path, off_t size) {
  const lyr::UniqueFd other(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!other.valid()) return false;
  const size_t n = static_cast<size_t>(std::min<off_t>(size, 65536));
  std::vector<uint8_t> a(n), b(n);
  return ::pread(fd, a.data(), n, 0) == static_cast<ssize_t>(n) &&
         ::pread(other.get(), b.data(), n, 0) == static_cast<ssize_t>(n) && a == b;
}

// The file the WAVE file replaces: OUT, or the file OUT links to, so that a
// symbolic link keeps pointing at the new file. OUT must not be IN under any
// name (a symbolic or hard link, another path to it): decoding never writes
// over its input.
lyr::Result<std::string> ChooseTarget(int in_fd, const std::string& in_path, const std::string& out_path) {
  struct stat in_st {
  }, out_st{};
  if (::fstat(in_fd, &in_st) != 0) return OsFailure("cannot read", in_path);
  if (::stat(out_path.c_str(), &out_st) != 0) {
    if (errno == ENOENT) return out_path;
    return OsFailure("cannot write", out_path);
  }
  if (out_st.st_dev == in_st.st_dev && out_st.st_ino == in_st.st_ino)
    return UsageError(LocalShownText(out_path) + " is the input file " + LocalShownText(in_path) +
                      ": decoding never writes over its input");
  if (!S_ISREG(out_st.st_mode)) return UsageError(LocalShownText(out_path) + " is not a regular file");
  // Another mount of the same folder (bindfs, NFS) gives the input other
  // device and inode numbers: a file of its size that starts as it does is
  // taken for it.
  if (out_st.st_size == in_st.st_size && SameStart(in_fd, out_path, in_st.st_size))
    return UsageError(LocalShownText(out_path) + " is the input file " + LocalShownText(in_path) +
                      " or a copy of it (same size and contents): decoding never writes over its input");
  char resolved[PATH_MAX];
  if (::realpath(out_path.c_str(), resolved) == nullptr) return OsFailure("cannot write", out_path);
  return std::string(resolved);
}

// A new file beside `target`, made with O_EXCL and the mode of any new file.
lyr::Result<std::pair<std::string, int>> CreateTemporaryBeside(const std::string& target) {
  const std::filesystem::path path(target);
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".%08x.partial", random());
    std::filesystem::path temp = path;
    temp += suffix;
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) return std::make_pair(temp.string(), fd);
    if (errno != EEXIST) return OsFailure("cannot create a file beside", target);
  }
  return OsFailure("cannot create a file beside", target);
}

// Removes the temporary file unless it was renamed onto the target.
struct TemporaryFile {
  std::string path;
  bool kept = false;
  ~TemporaryFile() {
    if (!kept && !path.empty()) ::unlink(path.c_str());
  }
};

lyr::Status RunDecode(const GlobalOptions& options, const std::string& in_path, const std::string& out_path) {
  File in(std::fopen(in_path.c_str(), "rb"), std::fclose);
  if (!in) return OsFailure("cannot open", in_path);
  LYR_TRY_ASSIGN(const std::string target, ChooseTarget(::fileno(in.get()), in_path, out_path));
  // The WAVE file is written beside OUT and takes its name only when it is
  // complete: a failed decode leaves an existing OUT as it was.
  LYR_TRY_ASSIGN(auto created, CreateTemporaryBeside(target));
  TemporaryFile temp{created.first};
  File out(::fdopen(created.second, "wb"), std::fclose);
  if (!out) {
    ::close(created.second);
    return OsFailure("cannot create", temp.path);
  }

  uint8_t header[kWaveHeaderSize] = {};
  bool write_failed = false, too_long = false;
  uint64_t data_bytes = 0;
  if (std::fwrite(header, 1, sizeof header, out.get()) != sizeof header) write_failed = true;

  const lyr::Layer2StreamResult result = lyr::DecodeLayer2Stream(
      [&](uint8_t* buffer, size_t capacity) { return std::fread(buffer, 1, capacity, in.get()); },
      [&](const int16_t* samples, size_t bytes) {
        if (write_failed || too_long) return;
        if (data_bytes + bytes > kMaxWaveData) {
          too_long = true;
          return;
        }
        // The decoder's samples are in host order; WAVE wants little-endian.
        uint8_t le[4608];
        for (size_t i = 0; i < bytes / 2; ++i) lyr::PutU16(le + 2 * i, static_cast<uint16_t>(samples[i]));
        if (std::fwrite(le, 1, bytes, out.get()) != bytes) write_failed = true;
        data_bytes += bytes;
      });
  if (!result.ok) return Failure("cannot create a decoder: not enough memory", lyr::kErrorNotEnoughMemory);
  if (std::ferror(in.get())) return OsFailure("cannot read", in_path);
  if (too_long) return Failure(LocalShownText(in_path) + " decodes to more than a WAVE file can hold");
  if (result.frames == 0) return Failure(LocalShownText(in_path) + ": no MPEG Layer II frames found");

  BuildStereoWaveHeader(header, result.sample_rate, static_cast<uint32_t>(data_bytes));
  if (write_failed || std::fseek(out.get(), 0, SEEK_SET) != 0 ||
      std::fwrite(header, 1, sizeof header, out.get()) != sizeof header || std::fflush(out.get()) != 0 ||
      ::fsync(::fileno(out.get())) != 0) {
    return OsFailure("cannot write", temp.path);
  }
  if (std::fclose(out.release()) != 0) return OsFailure("cannot write", temp.path);
  if (::rename(temp.path.c_str(), target.c_str()) != 0) return OsFailure("cannot write", out_path);
  temp.kept = true;

  const double seconds = static_cast<double>(data_bytes / 4) / result.sample_rate;
  if (options.json) {
    PrintJson({{"input", LocalJsonText(in_path)},
               {"output", LocalJsonText(out_path)},
               {"frames", result.frames},
               {"skipped_bytes", result.skipped_bytes},
               {"sample_rate", result.sample_rate},
               {"channels", result.channels},
               {"data_bytes", data_bytes},
               {"seconds", seconds}});
  } else {
    std::printf("%s: %llu frames, %u Hz, %s, %.3f s", LocalShownText(out_path).c_str(),
                static_cast<unsigned long long>(result.frames), result.sample_rate,
                result.channels == 1 ? "single channel" : "two channels", seconds);
    if (result.skipped_bytes != 0)
      std::printf(", %llu bytes skipped", static_cast<unsigned long long>(result.skipped_bytes));
    std::printf("\n");
  }
  return {};
}

}  // namespace

CommandRun AddDecodeCommand(CLI::App& cmd) {
  cmd.footer("Example: lyrctl decode LYR0001.mp2 LYR0001.wav");
  auto in_path = std::make_shared<std::string>();
  auto out_path = std::make_shared<std::string>();
  cmd.add_option("IN", *in_path, "MPEG Layer II file (.mp2)")->required();
  cmd.add_option("OUT", *out_path, "WAVE file to write (never IN itself)")->required();
  return
      [in_path, out_path](const GlobalOptions& options) { return RunDecode(options, *in_path, *out_path); };
}

}  // namespace lyrctl
