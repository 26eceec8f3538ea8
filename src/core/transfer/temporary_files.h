#pragma once
// The temporary files and folders of jobs: made exclusively, so that a job
// never writes into a file that is not its own.
#include <string>

#include "platform/result.h"

namespace lyr {

// The first free temporary name: folder + name + "_N" + extension, N = 0, 1, ...
// created (exclusively, no link followed); -1 when it cannot be created.
int CreateTemporaryFile(const std::string& folder, const std::string& name, const std::string& extension,
                        std::string* path);

// A new private folder in `parent`: `prefix` and six random characters
// (mkdtemp). Every name in it is the maker's own. Returns its path.
Result<std::string> MakeTemporaryFolder(const std::string& parent, const std::string& prefix);

// A private folder removed with everything in it when its owner goes.
class TemporaryFolder {
 public:
  static Result<TemporaryFolder> Make(const std::string& parent, const std::string& prefix);
  TemporaryFolder(TemporaryFolder&& other) noexcept : path_(std::move(other.path_)) { other.path_.clear(); }
  TemporaryFolder& operator=(TemporaryFolder&&) = delete;
  TemporaryFolder(const TemporaryFolder&) = delete;
  ~TemporaryFolder();
  const std::string& path() const { return path_; }

 private:
  explicit TemporaryFolder(std::string path) : path_(std::move(path)) {}
  std::string path_;
};

}  // namespace lyr
