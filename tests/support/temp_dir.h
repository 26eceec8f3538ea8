#pragma once
#include <stdlib.h>

#include <filesystem>
#include <random>
#include <string>
#include <system_error>

namespace lyr_test {

// A private temporary directory, removed with everything in it.
class TempDir {
 public:
  TempDir() {
#ifdef _WIN32
    // No mkdtemp: a random name, taken only when it did not exist.
    std::random_device random;
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
      auto candidate = std::filesystem::temp_directory_path() / ("lyr-test-" + std::to_string(random()));
      std::error_code ec;
      if (std::filesystem::create_directory(candidate, ec)) path_ = candidate;
    }
#else
    std::string pattern = (std::filesystem::temp_directory_path() / "lyr-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
#endif
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

}  // namespace lyr_test
