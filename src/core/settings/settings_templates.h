#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>


namespace lyr {

class ProfileFile;

// Text fields are NUL-padded; a text that fills its field has no terminator.
std::string FieldText(const char* field, size_t width);
void SetFieldText(char* field, size_t width, std::string_view text);

// A named file-format template; its 60-byte form is also bytes 60..119 of
// the recorder's settings record.
struct FileFormatTemplate {
  static constexpr size_t kSize = 60;

  char name[32]{};
  char filename[8]{};  // file name prefix
  char extname[4]{};
  uint32_t codecid = 0;
  uint32_t samplerate = 0;
  uint32_t bitrate = 0;
  uint16_t channels = 0;
  uint16_t bits = 0;

  void ToBytes(uint8_t* out) const;
  static FileFormatTemplate FromBytes(const uint8_t* in);
};

// A named input template; its 60-byte form is also bytes 0..59 of the
// recorder's settings record.
struct InputTemplate {
  static constexpr size_t kSize = 60;

  char name[32]{};
  int16_t indev = 0;
  int16_t matrix = 0;
  int16_t agc_lv = 0;
  int16_t rec_buf = 0;
  int16_t rec_lv = 0;
  int16_t a_gain = 0;
  int16_t out_vol = 0;
  uint8_t padding[2]{};
  int32_t bst = 0;
  int32_t pwr = 0;
  int32_t flt = 0;

  void ToBytes(uint8_t* out) const;
  static InputTemplate FromBytes(const uint8_t* in);
};

using FileFormatTemplateList = std::vector<std::unique_ptr<FileFormatTemplate>>;
using InputTemplateList = std::vector<std::unique_ptr<InputTemplate>>;

// The file is edited by hand; a count beyond this is read as this many
// templates, so an absurd count cannot make the program build billions.
inline constexpr int kMaxTemplateCount = 256;

// Reads the two template lists from cfgfile.ini's content: section "common"
// gives the counts, sections "InDev%d" and "FileFmt%d" the templates. A count
// of 0 gives the built-in templates, a negative count none.
void LoadTemplates(const ProfileFile& file, InputTemplateList& inputs, FileFormatTemplateList& formats);
// Writes both counts and one section per template. Sections beyond the new
// counts stay in the file; the next load does not read them.
void SaveTemplates(ProfileFile& file, const InputTemplateList& inputs, const FileFormatTemplateList& formats);

}  // namespace lyr
