#pragma once
// The folder layout of a data disc: recordings become files, the user makes,
// renames and removes folders and files, and the data disc job walks the
// whole tree (CollectFiles) to build the disc. Operations answer 1 or 0; a 0
// sets the last error: 3 = path or item not found, 10 = a name with one of
// the forbidden characters \ / : * ? " < > |, 183 = a name already in use.
// Names are compared without regard to case, and no folder holds two
// children (folders or files) of one name.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/result.h"

namespace lyr::burn {

// One file on the disc, copied by value.
struct BURN_FILE {
  uint32_t entry = 0;  // the recording on the recorder
  uint32_t reserved = 0;
  uint32_t duration = 0;  // seconds
  uint32_t size = 0;      // audio data bytes
  std::string name;       // on the disc, without extension
  std::string disc_path;  // filled by CollectFiles: "/A/take1"
  std::string extra;
};

struct BURN_FOLDER {
  std::vector<BURN_FILE> files;                        // insertion order
  std::vector<std::unique_ptr<BURN_FOLDER>> children;  // insertion order
  std::string name;
  BURN_FOLDER* parent = nullptr;  // none for the root
};

// True when `name` holds none of \ / : * ? " < > |.
bool IsValidBurnName(const std::string& name);

class CBurnTree {
 public:
  CBurnTree();
  CBurnTree(const CBurnTree&) = delete;
  CBurnTree& operator=(const CBurnTree&) = delete;

  // A new folder at the end of the current folder's children; a taken name
  // becomes "name(0)", "name(1)", ... One trailing "/" is dropped.
  int CreateFolder(const std::string& name, std::string* final_name = nullptr);
  // Adds a copy of `file` to the folder at `path` ("" = the current folder).
  // A folder holds a recording once; a taken name becomes "base(0).ext", ...
  int AddFile(const std::string& path, const BURN_FILE& file, std::string* final_name = nullptr);
  int DeleteFolder(const std::string& name);  // a child of the current folder, with its subtree
  int DeleteFile(const std::string& path, uint32_t entry);
  int RenameFolder(const std::string& old_name, const std::string& new_name);
  int RenameFile(const std::string& old_name, uint32_t entry, const std::string& new_name);

  // "/" is the root, "/A/B/" (or "/A/B") a folder from the root; a path
  // without the leading "/" starts at the current folder.
  BURN_FOLDER* FindFolder(const std::string& path);
  static std::string GetFolderPath(const BURN_FOLDER* folder);  // "/A/B/"
  int SetCurrentFolder(const std::string& path);
  const BURN_FOLDER& CurrentFolder() const { return *current_; }
  const BURN_FOLDER& Root() const { return root_; }

  // Depth first from the root: a folder's own files in list order, then each
  // child folder; disc path = folder path + file name.
  void CollectFiles(std::vector<BURN_FILE>* out) const;
  void Clear();
  uint64_t GetTotalSize() const { return total_size_; }
  uint32_t GetFileCount() const { return file_count_; }

 private:
  static bool NameTaken(const BURN_FOLDER& folder, const std::string& name, const void* except = nullptr);
  void Forget(const BURN_FOLDER& folder);  // subtracts a subtree's files from the totals

  BURN_FOLDER root_;
  BURN_FOLDER* current_;
  uint32_t file_count_ = 0;
  uint64_t total_size_ = 0;
};

// The tree's edits as the programs call them: a Status, or the name the
// item got, with the last error (3, 10 or 183) as the error's code.
class BurnLayout {
 public:
  explicit BurnLayout(CBurnTree& tree) : tree_(tree) {}

  Result<std::string> CreateFolder(const std::string& name) {
    std::string final_name;
    const bool ok = tree_.CreateFolder(name, &final_name) != 0;
    return LastErrorResult(ok, std::move(final_name), name);
  }
  Result<std::string> AddFile(const std::string& path, const BURN_FILE& file) {
    std::string final_name;
    const bool ok = tree_.AddFile(path, file, &final_name) != 0;
    return LastErrorResult(ok, std::move(final_name), file.name);
  }
  Status DeleteFolder(const std::string& name) {
    return LastErrorStatus(tree_.DeleteFolder(name) != 0, name);
  }
  Status DeleteFile(const std::string& path, uint32_t entry) {
    return LastErrorStatus(tree_.DeleteFile(path, entry) != 0, path);
  }
  Status RenameFolder(const std::string& old_name, const std::string& new_name) {
    return LastErrorStatus(tree_.RenameFolder(old_name, new_name) != 0, old_name);
  }
  Status RenameFile(const std::string& old_name, uint32_t entry, const std::string& new_name) {
    return LastErrorStatus(tree_.RenameFile(old_name, entry, new_name) != 0, old_name);
  }
  Status SetCurrentFolder(const std::string& path) {
    return LastErrorStatus(tree_.SetCurrentFolder(path) != 0, path);
  }

 private:
  CBurnTree& tree_;
};

}  // namespace lyr::burn
