#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace lyr {

// An INI file in the Windows profile format, read and written with the rules
// of the Windows profile functions: section and key names compare without
// case, values lose surrounding blanks and one pair of enclosing quotes,
// integers are read from their leading digits, and a write changes only the
// line of its key. Every other line (comments, blank lines, junk, sections
// nobody asks for) is kept as it was.
//
// The file is user-edited, so it is read with bounds: a file larger than
// kMaxFileSize is not read at all (and not overwritten either).
class ProfileFile {
 public:
  static constexpr size_t kMaxFileSize = 1 << 20;

  // Reads the file. False when it is missing, unreadable or too large; the
  // content is then empty. A file that exists but could not be read (too
  // large, not a regular file, read error) is protected: Save refuses to
  // replace what it never saw.
  bool Load(const std::string& path);
  void Parse(std::string_view text);
  bool IsProtected() const { return protected_; }

  // Writes the whole file (through a temporary file in the same folder, so a
  // failed write leaves the old file). Missing parent folders are created.
  // False when the loaded file is protected or the write failed.
  bool Save(const std::string& path) const;
  std::string Text() const;

  // The value of `key` in `section`, or `fallback` when the key is missing;
  // cut to size - 1 characters as a buffer of `size` characters would hold it.
  std::string GetString(std::string_view section, std::string_view key, std::string_view fallback,
                        size_t size) const;
  // The integer at the start of the value (blanks, an optional sign, then
  // decimal digits, wrapping modulo 2^32 like the 32-bit original); 0 when
  // the value does not start with a number, `fallback` when the key is
  // missing or its value is empty.
  int GetInt(std::string_view section, std::string_view key, int fallback) const;

  // Sets `key` in `section`: the key's line is rewritten in place, a new key
  // goes after the last key of the section, a new section at the end.
  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  void WriteInt(std::string_view section, std::string_view key, int value);

 private:
  struct Section {
    std::string header;              // raw header line; empty for the lines before any section
    std::vector<std::string> lines;  // raw body lines, '\r' kept, '\n' dropped
  };
  struct KeyLine {
    size_t section = 0;
    size_t line = 0;
  };

  static std::string Lower(std::string_view text);
  bool FindKey(std::string_view section, std::string_view key, KeyLine* where) const;
  void IndexSection(size_t index);

  std::vector<Section> sections_;
  // Lower-case section name -> indexes into sections_, in file order.
  std::unordered_map<std::string, std::vector<size_t>> index_;
  bool crlf_ = false;
  bool protected_ = false;
};

// One-call helpers with the behaviour of the Windows profile functions: each
// reads the file, and a write saves it at once. Write returns 1 or 0.
std::string ReadProfileString(const std::string& path, std::string_view section, std::string_view key,
                              std::string_view fallback, size_t size);
int ReadProfileInt(const std::string& path, std::string_view section, std::string_view key, int fallback);
int WriteProfileString(const std::string& path, std::string_view section, std::string_view key,
                       std::string_view value);

}  // namespace lyr
