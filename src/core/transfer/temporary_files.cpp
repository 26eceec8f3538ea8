#include "transfer/temporary_files.h"

#include <fcntl.h>
#include <stdlib.h>

#include <cerrno>
#include <filesystem>

#include "transfer/transfer_jobs.h"

namespace lyr {

int CreateTemporaryFile(const std::string& folder, const std::string& name, const std::string& extension,
                        std::string* path) {
  const std::string dir = WithTrailingSeparator(folder);
  for (int n = 0; n < 100000; ++n) {
    std::string candidate = dir + name + "_" + std::to_string(n) + extension;
    const int fd = ::open(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd >= 0) {
      *path = std::move(candidate);
      return fd;
    }
    if (errno != EEXIST) return -1;
  }
  return -1;
}

Result<std::string> MakeTemporaryFolder(const std::string& parent, const std::string& prefix) {
  std::string pattern = WithTrailingSeparator(parent) + prefix + "XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) return Error::Os(errno, "temporary folder in " + parent);
  return pattern;
}

Result<TemporaryFolder> TemporaryFolder::Make(const std::string& parent, const std::string& prefix) {
  LYR_TRY_ASSIGN(std::string path, MakeTemporaryFolder(parent, prefix));
  return TemporaryFolder(std::move(path));
}

TemporaryFolder::~TemporaryFolder() {
  std::error_code ignored;
  if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

}  // namespace lyr
