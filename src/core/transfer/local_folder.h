#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace lyr {

// One row of the copy page's PC folder list.
struct LocalFileRow {
  std::string name;
  std::string type;  // "Folder" or " File"
  std::string size;  // "%8uK" (thousands of bytes), empty for a folder
  std::string date;  // last write, "%Y-%m-%d %H:%M" local time
  bool is_folder = false;
  uint64_t bytes = 0;  // a file's size
};

// The rows of one PC folder: hidden entries (leading dot) are skipped, every
// other sub-folder gives a "Folder" row, and a file whose last three
// characters are BWF, MP2 or WAV (any case) a " File" row; other files are
// not listed. Folders first, then files, each sorted by name. Empty when the
// folder cannot be read.
std::vector<LocalFileRow> ListLocalFolder(const std::string& folder);

// A place the location combo offers.
struct LocalLocation {
  std::string label;
  std::string path;
};
// The user's home folder, the mounted volumes of real file systems the user
// can read (from `mounts_file`, /proc/self/mounts), and "/".
std::vector<LocalLocation> LocalLocations(const std::string& mounts_file = "/proc/self/mounts");
// The same places before any of them is looked at: only the mounts file is
// read, so a mount that does not answer costs nothing here.
std::vector<LocalLocation> MountedPlaces(const std::string& mounts_file = "/proc/self/mounts");
// A place is a folder the user can read and enter (a stat: it may block on a
// mount that does not answer).
bool IsUsableLocation(const std::string& path);
// The folders above `folder`, nearest first, up to "/".
std::vector<std::string> ParentFolders(const std::string& folder);

// $HOME when it names a folder, else "/".
std::string HomeFolder();

}  // namespace lyr
