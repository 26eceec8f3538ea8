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

// $HOME when it names a folder, else "/".
std::string HomeFolder();

}  // namespace lyr
