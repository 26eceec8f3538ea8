#include "settings/profile_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "platform/last_error.h"
#include "platform/trace.h"

namespace lyr {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

char LowerChar(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (LowerChar(a[i]) != LowerChar(b[i])) return false;
  return true;
}

// The name inside "[name]", or false when the line is no section header.
bool SectionName(std::string_view line, std::string_view* name) {
  line = Trim(line);
  if (line.empty() || line.front() != '[') return false;
  const size_t close = line.find(']');
  if (close == std::string_view::npos) return false;
  *name = Trim(line.substr(1, close - 1));
  return true;
}

// Splits "key = value"; false for comments, blank lines and lines without '='.
bool SplitKeyLine(std::string_view line, std::string_view* key, std::string_view* value) {
  const std::string_view body = Trim(line);
  if (body.empty() || body.front() == ';' || body.front() == '[') return false;
  const size_t eq = body.find('=');
  if (eq == std::string_view::npos) return false;
  *key = Trim(body.substr(0, eq));
  if (key->empty()) return false;
  *value = Trim(body.substr(eq + 1));
  return true;
}

// A value as the profile functions hand it out: up to the first NUL, without
// one pair of enclosing quotes.
std::string_view CleanValue(std::string_view value) {
  const size_t nul = value.find('\0');
  if (nul != std::string_view::npos) value = value.substr(0, nul);
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
    value = value.substr(1, value.size() - 2);
  return value;
}

std::string CutToBuffer(std::string_view text, size_t size) {
  if (size == 0) return {};
  return std::string(text.substr(0, size - 1));
}

// Line breaks inside a written value would split it into lines of their own.
std::string OneLine(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c == '\r' || c == '\n') c = ' ';
  return out;
}

}  // namespace

std::string ProfileFile::Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = LowerChar(c);
  return out;
}

bool ProfileFile::Load(const std::string& path) {
  Parse({});
  protected_ = false;
  // Non-blocking so that a FIFO put in the file's place cannot hang us.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    protected_ = errno != ENOENT && errno != ENOTDIR;
    return false;
  }
  protected_ = true;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return false;
  }
  std::string text;
  text.resize(kMaxFileSize + 1);
  size_t total = 0;
  while (total < text.size()) {
    const ssize_t n = ::read(fd, text.data() + total, text.size() - total);
    if (n < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    total += static_cast<size_t>(n);
  }
  ::close(fd);
  if (total > kMaxFileSize) {
    Trace("profile: %s is larger than %zu bytes, not read\n", path.c_str(), kMaxFileSize);
    return false;
  }
  protected_ = false;
  text.resize(total);
  Parse(text);
  return true;
}

void ProfileFile::Parse(std::string_view text) {
  sections_.assign(1, Section{});
  index_.clear();
  crlf_ = false;
  bool first_line = true;
  while (!text.empty()) {
    const size_t nl = text.find('\n');
    const std::string_view line = text.substr(0, nl);
    text = nl == std::string_view::npos ? std::string_view{} : text.substr(nl + 1);
    if (first_line) crlf_ = !line.empty() && line.back() == '\r';
    first_line = false;
    std::string_view name;
    if (SectionName(line, &name)) {
      sections_.push_back(Section{std::string(line), {}});
      IndexSection(sections_.size() - 1);
    } else {
      sections_.back().lines.emplace_back(line);
    }
  }
}

void ProfileFile::IndexSection(size_t index) {
  std::string_view name;
  if (SectionName(sections_[index].header, &name)) index_[Lower(name)].push_back(index);
}

bool ProfileFile::FindKey(std::string_view section, std::string_view key, KeyLine* where) const {
  const auto it = index_.find(Lower(Trim(section)));
  if (it == index_.end()) return false;
  const std::string_view wanted = Trim(key);
  for (size_t s : it->second) {
    const auto& lines = sections_[s].lines;
    for (size_t i = 0; i < lines.size(); ++i) {
      std::string_view k, v;
      if (SplitKeyLine(lines[i], &k, &v) && EqualNoCase(k, wanted)) {
        *where = KeyLine{s, i};
        return true;
      }
    }
  }
  return false;
}

std::string ProfileFile::GetString(std::string_view section, std::string_view key, std::string_view fallback,
                                   size_t size) const {
  KeyLine at;
  if (!FindKey(section, key, &at)) return CutToBuffer(Trim(fallback), size);
  std::string_view k, v;
  SplitKeyLine(sections_[at.section].lines[at.line], &k, &v);
  return CutToBuffer(CleanValue(v), size);
}

int ProfileFile::GetInt(std::string_view section, std::string_view key, int fallback) const {
  KeyLine at;
  if (!FindKey(section, key, &at)) return fallback;
  std::string_view k, v;
  SplitKeyLine(sections_[at.section].lines[at.line], &k, &v);
  std::string_view text = CleanValue(v);
  if (text.empty()) return fallback;
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') text.remove_prefix(1);
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  uint32_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    value = value * 10u + static_cast<uint32_t>(c - '0');
  }
  if (negative) value = 0u - value;
  return static_cast<int>(value);
}

void ProfileFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  if (sections_.empty()) sections_.assign(1, Section{});
  const std::string eol = crlf_ ? "\r" : "";
  const std::string clean_value = OneLine(value);
  KeyLine at;
  if (FindKey(section, key, &at)) {
    std::string& line = sections_[at.section].lines[at.line];
    std::string_view k, v;
    SplitKeyLine(line, &k, &v);
    const bool line_crlf = !line.empty() && line.back() == '\r';
    line = std::string(k) + "=" + clean_value + (line_crlf ? "\r" : "");
    return;
  }
  const std::string new_line = OneLine(Trim(key)) + "=" + clean_value + eol;
  const auto it = index_.find(Lower(Trim(section)));
  if (it != index_.end()) {
    auto& lines = sections_[it->second.front()].lines;
    size_t insert_at = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
      std::string_view k, v;
      if (SplitKeyLine(lines[i], &k, &v)) insert_at = i + 1;
    }
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insert_at), new_line);
    return;
  }
  sections_.push_back(Section{"[" + OneLine(Trim(section)) + "]" + eol, {new_line}});
  IndexSection(sections_.size() - 1);
}

void ProfileFile::WriteInt(std::string_view section, std::string_view key, int value) {
  char text[16];
  std::snprintf(text, sizeof text, "%d", value);
  WriteString(section, key, text);
}

std::string ProfileFile::Text() const {
  std::string out;
  for (const Section& s : sections_) {
    if (!s.header.empty()) out.append(s.header).push_back('\n');
    for (const std::string& line : s.lines) out.append(line).push_back('\n');
  }
  return out;
}

bool ProfileFile::Save(const std::string& path) const {
  if (protected_ || path.empty()) {
    SetLastError(kErrorInvalidData);
    return false;
  }
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path target(path);
  // Replace the file a symbolic link points to, not the link.
  if (fs::is_symlink(target, ec)) {
    const fs::path resolved = fs::canonical(target, ec);
    if (!ec) target = resolved;
  }
  if (target.has_parent_path()) fs::create_directories(target.parent_path(), ec);

  std::string temp = target.string() + ".XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) {
    SetLastError(kErrorPathNotFound);
    return false;
  }
  struct stat st {};
  ::fchmod(fd, ::stat(target.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644);
  const std::string text = Text();
  size_t done = 0;
  bool ok = true;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    done += static_cast<size_t>(n);
  }
  if (::close(fd) != 0) ok = false;
  if (ok && ::rename(temp.c_str(), target.c_str()) != 0) ok = false;
  if (!ok) {
    ::unlink(temp.c_str());
    SetLastError(kErrorIoDevice);
  }
  return ok;
}

std::string ReadProfileString(const std::string& path, std::string_view section, std::string_view key,
                              std::string_view fallback, size_t size) {
  ProfileFile file;
  file.Load(path);
  return file.GetString(section, key, fallback, size);
}

int ReadProfileInt(const std::string& path, std::string_view section, std::string_view key, int fallback) {
  ProfileFile file;
  file.Load(path);
  return file.GetInt(section, key, fallback);
}

int WriteProfileString(const std::string& path, std::string_view section, std::string_view key,
                       std::string_view value) {
  ProfileFile file;
  file.Load(path);
  file.WriteString(section, key, value);
  return file.Save(path) ? 1 : 0;
}

}  // namespace lyr
