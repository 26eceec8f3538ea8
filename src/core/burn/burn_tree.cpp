#include "burn/burn_tree.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/last_error.h"

namespace lyr::burn {
namespace {

bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

int Fail(uint32_t code) {
  SetLastError(code);
  return 0;
}

}  // namespace

bool IsValidBurnName(const std::string& name) {
  return name.find_first_of("\\/:*?\"<>|") == std::string::npos;
}

CBurnTree::CBurnTree() : current_(&root_) { root_.name = "/"; }

bool CBurnTree::NameTaken(const BURN_FOLDER& folder, const std::string& name, const void* except) {
  for (const auto& child : folder.children)
    if (child.get() != except && SameName(child->name, name)) return true;
  for (const auto& file : folder.files)
    if (&file != except && SameName(file.name, name)) return true;
  return false;
}

int CBurnTree::CreateFolder(const std::string& name, std::string* final_name) {
  std::string wanted = name;
  if (!wanted.empty() && wanted.back() == '/') wanted.pop_back();
  if (wanted.empty()) return Fail(kErrorPathNotFound);
  if (!IsValidBurnName(wanted)) return Fail(kErrorBadEnvironment);
  std::string chosen = wanted;
  for (int n = 0; NameTaken(*current_, chosen); ++n) chosen = wanted + "(" + std::to_string(n) + ")";
  auto folder = std::make_unique<BURN_FOLDER>();
  folder->name = chosen;
  folder->parent = current_;
  current_->children.push_back(std::move(folder));
  if (final_name != nullptr) *final_name = chosen;
  return 1;
}

int CBurnTree::AddFile(const std::string& path, const BURN_FILE& file, std::string* final_name) {
  if (file.name.empty()) return Fail(kErrorPathNotFound);
  if (!IsValidBurnName(file.name)) return Fail(kErrorBadEnvironment);
  BURN_FOLDER* folder = path.empty() ? current_ : FindFolder(path);
  if (folder == nullptr) return Fail(kErrorPathNotFound);
  for (const auto& f : folder->files)
    if (f.entry == file.entry) return Fail(kErrorAlreadyExists);
  const size_t dot = file.name.rfind('.');
  const std::string base = dot == std::string::npos ? file.name : file.name.substr(0, dot);
  const std::string extension = dot == std::string::npos ? "" : file.name.substr(dot);
  std::string chosen = file.name;
  for (int n = 0; NameTaken(*folder, chosen); ++n) chosen = base + "(" + std::to_string(n) + ")" + extension;
  BURN_FILE copy = file;
  copy.name = chosen;
  folder->files.push_back(std::move(copy));
  ++file_count_;
  total_size_ += file.size;
  if (final_name != nullptr) *final_name = chosen;
  return 1;
}

void CBurnTree::Forget(const BURN_FOLDER& folder) {
  for (const auto& f : folder.files) {
    --file_count_;
    total_size_ -= f.size;
  }
  for (const auto& child : folder.children) Forget(*child);
}

int CBurnTree::DeleteFolder(const std::string& name) {
  auto& children = current_->children;
  const auto it =
      std::find_if(children.begin(), children.end(), [&](const auto& c) { return SameName(c->name, name); });
  if (it == children.end()) return Fail(kErrorPathNotFound);
  Forget(**it);
  children.erase(it);
  return 1;
}

int CBurnTree::DeleteFile(const std::string& path, uint32_t entry) {
  BURN_FOLDER* folder = path.empty() ? current_ : FindFolder(path);
  if (folder == nullptr) return Fail(kErrorPathNotFound);
  auto& files = folder->files;
  const auto it =
      std::find_if(files.begin(), files.end(), [&](const BURN_FILE& f) { return f.entry == entry; });
  if (it == files.end()) return Fail(kErrorPathNotFound);
  --file_count_;
  total_size_ -= it->size;
  files.erase(it);
  return 1;
}

int CBurnTree::RenameFolder(const std::string& old_name, const std::string& new_name) {
  BURN_FOLDER* found = nullptr;
  for (const auto& child : current_->children)
    if (SameName(child->name, old_name)) found = child.get();
  if (found == nullptr || found == &root_) return Fail(kErrorPathNotFound);
  if (NameTaken(*current_, new_name, found)) return Fail(kErrorAlreadyExists);
  if (new_name.empty() || !IsValidBurnName(new_name)) return Fail(kErrorBadEnvironment);
  found->name = new_name;
  return 1;
}

int CBurnTree::RenameFile(const std::string& /*old_name*/, uint32_t entry, const std::string& new_name) {
  if (new_name.empty() || !IsValidBurnName(new_name)) return Fail(kErrorBadEnvironment);
  auto& files = current_->files;
  const auto it =
      std::find_if(files.begin(), files.end(), [&](const BURN_FILE& f) { return f.entry == entry; });
  if (it == files.end()) return Fail(kErrorPathNotFound);
  // Two files of one name would be one file on the disc.
  if (NameTaken(*current_, new_name, &*it)) return Fail(kErrorAlreadyExists);
  it->name = new_name;
  return 1;
}

BURN_FOLDER* CBurnTree::FindFolder(const std::string& path) {
  BURN_FOLDER* folder = current_;
  size_t at = 0;
  if (!path.empty() && path[0] == '/') {
    folder = &root_;
    at = 1;
  }
  while (at < path.size()) {
    size_t end = path.find('/', at);
    if (end == std::string::npos) end = path.size();
    const std::string part = path.substr(at, end - at);
    at = end + 1;
    if (part.empty()) continue;
    BURN_FOLDER* next = nullptr;
    for (const auto& child : folder->children)
      if (SameName(child->name, part)) next = child.get();
    if (next == nullptr) return nullptr;
    folder = next;
  }
  return folder;
}

std::string CBurnTree::GetFolderPath(const BURN_FOLDER* folder) {
  std::string path = "/";
  for (; folder != nullptr && folder->parent != nullptr; folder = folder->parent)
    path.insert(1, folder->name + "/");
  return path;
}

int CBurnTree::SetCurrentFolder(const std::string& path) {
  BURN_FOLDER* folder = FindFolder(path);
  if (folder == nullptr) return Fail(kErrorPathNotFound);
  current_ = folder;
  return 1;
}

void CBurnTree::CollectFiles(std::vector<BURN_FILE>* out) const {
  struct Walk {
    static void Run(const BURN_FOLDER& folder, std::vector<BURN_FILE>* out) {
      const std::string path = GetFolderPath(&folder);
      for (const auto& f : folder.files) {
        out->push_back(f);
        out->back().disc_path = path + f.name;
      }
      for (const auto& child : folder.children) Run(*child, out);
    }
  };
  Walk::Run(root_, out);
}

void CBurnTree::Clear() {
  root_.files.clear();
  root_.children.clear();
  current_ = &root_;
  file_count_ = 0;
  total_size_ = 0;
}

}  // namespace lyr::burn
