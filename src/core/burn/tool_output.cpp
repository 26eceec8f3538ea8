#include "burn/tool_output.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

namespace lyr::burn {
namespace {

bool Has(std::string_view text, std::string_view what) { return text.find(what) != std::string_view::npos; }

// Decimal digits at the start of `text` (after blanks), saturating; `found`
// tells whether there was one.
uint64_t LeadingNumber(std::string_view text, bool* found = nullptr) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  uint64_t value = 0;
  const size_t start = i;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const uint64_t digit = static_cast<uint64_t>(text[i] - '0');
    value = value > (UINT64_MAX - digit) / 10 ? UINT64_MAX : value * 10 + digit;
  }
  if (found != nullptr) *found = i > start;
  return value;
}

// The text after `label` up to the end of its line, or nothing.
bool ValueAfter(std::string_view text, std::string_view label, std::string_view* value) {
  const size_t at = text.find(label);
  if (at == std::string_view::npos) return false;
  std::string_view rest = text.substr(at + label.size());
  *value = rest.substr(0, rest.find('\n'));
  return true;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

// Calls `fn` for every line of `text` (without its line feed).
template <class Fn>
void ForEachLine(std::string_view text, Fn fn) {
  while (!text.empty()) {
    const size_t nl = text.find('\n');
    fn(text.substr(0, nl));
    if (nl == std::string_view::npos) break;
    text.remove_prefix(nl + 1);
  }
}

bool HasLine(std::string_view text, std::string_view line) {
  bool found = false;
  ForEachLine(text, [&](std::string_view l) { found = found || Trim(l) == line; });
  return found;
}

bool ContainsNoCase(std::string_view text, std::string_view what) {
  return std::search(text.begin(), text.end(), what.begin(), what.end(), [](char a, char b) {
           return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
         }) != text.end();
}

// cdrecord's "Remaining writable size:" in bytes.
bool RemainingBytes(std::string_view text, uint64_t* bytes) {
  std::string_view value;
  if (!ValueAfter(text, "Remaining writable size:", &value)) return false;
  *bytes = LeadingNumber(value) * 2048;
  return true;
}

constexpr uint64_t kDvdPlusRwBytes = 4700372992ull;  // 2,295,104 sectors
constexpr uint64_t kDvdSingleLayerSectors = 2295104;
constexpr uint64_t kDvdRamSectors = 2236704;

int ParseCdrecordDiscInfo(std::string_view out, uint32_t* kind, uint64_t* free_bytes) {
  if (Has(out, "No disk / Wrong disk")) return 0;
  if (Has(out, "CD-R/CD-RW driver")) {
    *kind = RemainingBytes(out, free_bytes) ? MEDIA_CDR : MEDIA_CDROM;
    if (Has(out, "Disk Is erasable")) *kind = MEDIA_CDRW;
    return 0;
  }
  if (Has(out, "DVD-R/DVD-RW/DVD-RAM driver")) {
    *kind = RemainingBytes(out, free_bytes) ? MEDIA_DVDR : MEDIA_DVDROM;
    if (Has(out, "Disk Is erasable")) *kind = MEDIA_DVDRW;
  }
  if (Has(out, "DVD+R driver")) {
    *kind = MEDIA_DVDPLUSR;
    *free_bytes = 0;
    RemainingBytes(out, free_bytes);
  }
  if (Has(out, "DVD+RW driver") && Has(out, "Disk Is erasable")) {
    *kind = MEDIA_DVDPLUSRW;
    *free_bytes = kDvdPlusRwBytes;
  }
  return 0;
}

// cdrskin -minfo names the disc by its profile: "Mounted media type: CD-RW".
int ParseCdrskinDiscInfo(std::string_view out, uint32_t* kind, uint64_t* free_bytes) {
  std::string_view type;
  if (!ValueAfter(out, "Mounted media type:", &type)) {
    // The drive could not be had at all, or it holds no disc.
    return Has(out, "Cannot find") || Has(out, "cannot find") || Has(out, "Cannot open") ? 1 : 0;
  }
  type = Trim(type);
  const bool writable = RemainingBytes(out, free_bytes) && *free_bytes > 0;
  const bool erasable = Has(out, "Disk Is erasable");
  auto starts = [&](std::string_view p) { return type.substr(0, p.size()) == p; };
  if (type == "CD-ROM") {
    *kind = MEDIA_CDROM;
  } else if (type == "CD-R") {
    *kind = writable ? MEDIA_CDR : MEDIA_CDROM;
  } else if (type == "CD-RW") {
    *kind = MEDIA_CDRW;
  } else if (type == "DVD-ROM") {
    *kind = MEDIA_DVDROM;
  } else if (starts("DVD-R/DL")) {
    *kind = writable ? MEDIA_DVDR_DL : MEDIA_DVDROM;
  } else if (starts("DVD-RW")) {
    *kind = MEDIA_DVDRW;
  } else if (starts("DVD-RAM")) {
    *kind = MEDIA_DVDRAM;
    if (!writable) *free_bytes = kDvdRamSectors * 2048;
  } else if (starts("DVD-R")) {
    *kind = writable ? MEDIA_DVDR : MEDIA_DVDROM;
  } else if (type == "DVD+RW" && erasable) {
    *kind = MEDIA_DVDPLUSRW;
    *free_bytes = kDvdPlusRwBytes;
  } else if (starts("DVD+R/DL")) {
    *kind = MEDIA_DVDPLUSR_DL;
  } else if (type == "DVD+R") {
    *kind = MEDIA_DVDPLUSR;
  } else {
    *kind = 0;  // BD and others: nothing this system writes
  }
  if (*kind == MEDIA_CDROM || *kind == MEDIA_DVDROM || *kind == 0) *free_bytes = 0;
  return 0;
}

// wodim has no -minfo: its -atip names the driver it picked (which says CD,
// DVD-R family, DVD+R or DVD+RW), the CD's ATIP says whether it is erasable
// and where its lead-out starts, and -toc fails on a blank disc.
int ParseWodimDiscInfo(std::string_view atip, std::string_view toc, uint32_t* kind, uint64_t* free_bytes) {
  if (Has(atip, "No disk / Wrong disk")) return 0;
  const bool blank = Has(toc, "Cannot read TOC header");
  const bool erasable = HasLine(atip, "Is erasable");
  if (Has(atip, "CD-R/CD-RW driver")) {
    std::string_view leadout;
    bool found = false;
    uint64_t sectors = 0;
    if (ValueAfter(atip, "ATIP start of lead out:", &leadout)) sectors = LeadingNumber(leadout, &found);
    if (blank && found) {
      *kind = MEDIA_CDR;
      *free_bytes = sectors * 2048;
    } else {
      *kind = MEDIA_CDROM;
    }
    if (erasable) *kind = MEDIA_CDRW;
    return 0;
  }
  if (Has(atip, "DVD+RW driver")) {
    *kind = MEDIA_DVDPLUSRW;
    *free_bytes = kDvdPlusRwBytes;
  } else if (Has(atip, "DVD+R driver")) {
    *kind = MEDIA_DVDPLUSR;
    if (blank) *free_bytes = kDvdSingleLayerSectors * 2048;
  } else if (Has(atip, "DVD-R(W) driver") || Has(atip, "DVD-R/DVD-RW driver")) {
    // wodim prints no remaining size for DVDs; a blank one is taken at the
    // single-layer size.
    *kind = blank ? MEDIA_DVDR : MEDIA_DVDROM;
    if (blank) *free_bytes = kDvdSingleLayerSectors * 2048;
    if (erasable) *kind = MEDIA_DVDRW;
  }
  return 0;
}

struct ProfileBits {
  unsigned profile;
  uint32_t read;
  uint32_t write;
};
// The MMC profile numbers cdrskin lists, as media-kind bits.
constexpr ProfileBits kProfiles[] = {
    {0x08, MEDIA_CDROM, 0},
    {0x09, MEDIA_CDR, MEDIA_CDR},
    {0x0A, MEDIA_CDRW, MEDIA_CDRW},
    {0x10, MEDIA_DVDROM, 0},
    {0x11, MEDIA_DVDR, MEDIA_DVDR},
    {0x12, MEDIA_DVDRAM, MEDIA_DVDRAM},
    {0x13, MEDIA_DVDRW, MEDIA_DVDRW},
    {0x14, MEDIA_DVDRW, MEDIA_DVDRW},
    {0x15, MEDIA_DVDR_DL, MEDIA_DVDR_DL},
    {0x16, MEDIA_DVDR_DL, MEDIA_DVDR_DL},
    {0x1A, MEDIA_DVDPLUSRW, MEDIA_DVDPLUSRW},
    {0x1B, MEDIA_DVDPLUSR, MEDIA_DVDPLUSR},
    {0x2B, MEDIA_DVDPLUSR_DL, MEDIA_DVDPLUSR_DL},
};

}  // namespace

WriterKind WriterKindFromVersion(std::string_view out) {
  if (Has(out, "cdrskin")) return WriterKind::kCdrskin;
  if (Has(out, "Wodim") || Has(out, "wodim")) return WriterKind::kWodim;
  const size_t at = out.find("Cdrecord");
  if (at == std::string_view::npos) return WriterKind::kNone;
  // "Cdrecord 3.01 ..." or "Cdrecord-ProDVD-ProBD-Clone 3.02a09 ...": the
  // first number on that line is the version.
  std::string_view line = out.substr(at);
  line = line.substr(0, line.find('\n'));
  const size_t digit = line.find_first_of("0123456789");
  if (digit == std::string_view::npos) return WriterKind::kNone;
  return LeadingNumber(line.substr(digit)) >= 3 ? WriterKind::kCdrecord : WriterKind::kWodim;
}

const char* WriterKindName(WriterKind kind) {
  switch (kind) {
    case WriterKind::kCdrecord:
      return "cdrecord";
    case WriterKind::kCdrskin:
      return "cdrskin";
    case WriterKind::kWodim:
      return "wodim";
    case WriterKind::kNone:
      break;
  }
  return "none";
}

std::vector<BURN_DRIVE_INFO> ParseScanOutput(std::string_view out) {
  std::vector<BURN_DRIVE_INFO> drives;
  constexpr std::string_view kMark = "Removable CD-ROM";
  size_t start = 1;
  for (size_t hit; start <= out.size() && (hit = out.find(kMark, start)) != std::string_view::npos;
       start = hit + 1) {
    std::string_view slice = out.substr(start, hit - start);
    const size_t nl = slice.rfind('\n');
    std::string_view line = nl == std::string_view::npos ? slice : slice.substr(nl + 1);
    BURN_DRIVE_INFO info;
    const size_t tab1 = line.find('\t');
    const size_t tab2 = tab1 == std::string_view::npos ? tab1 : line.find('\t', tab1 + 1);
    if (tab2 != std::string_view::npos) {
      info.device = ParseDeviceAddress(line.substr(tab1 + 1, tab2 - tab1 - 1));
      std::string_view rest = line.substr(tab2 + 1);
      std::string name;
      for (int field = 0; field < 2; ++field) {
        const size_t q1 = rest.find('\'');
        const size_t q2 = q1 == std::string_view::npos ? q1 : rest.find('\'', q1 + 1);
        if (q2 == std::string_view::npos) break;
        name.append(rest.substr(q1 + 1, q2 - q1 - 1));
        rest.remove_prefix(q2 + 1);
      }
      const size_t n = std::min(name.size(), sizeof info.name - 1);
      std::memcpy(info.name, name.data(), n);
    } else {
      info.device = 0xFFFFFFFFu;
    }
    drives.push_back(info);
  }
  return drives;
}

void ParseCapabilities(WriterKind kind, std::string_view out, uint32_t* read, uint32_t* write) {
  uint32_t r = 0, w = 0;
  if (kind == WriterKind::kCdrskin) {
    ForEachLine(out, [&](std::string_view line) {
      line = Trim(line);
      if (line.substr(0, 11) != "Profile: 0x") return;
      const unsigned profile =
          static_cast<unsigned>(std::strtoul(std::string(line.substr(11, 4)).c_str(), nullptr, 16));
      for (const auto& p : kProfiles) {
        if (p.profile != profile) continue;
        r |= p.read;
        w |= p.write;
      }
    });
  } else {
    const bool dvd_read = Has(out, "Feature: 'DVD Read");
    if (Has(out, "Profile: CD-ROM")) r |= MEDIA_CDROM;
    if (Has(out, "Does read CD-R media") || Has(out, "Profile: CD-R")) r |= MEDIA_CDR;
    if (Has(out, "Does write CD-R media") || Has(out, "Profile: CD-R ")) w |= MEDIA_CDR;
    if (Has(out, "Does read CD-RW media") || Has(out, "Profile: CD-RW")) r |= MEDIA_CDRW;
    if (Has(out, "Does write CD-RW media") || Has(out, "Profile: CD-RW")) w |= MEDIA_CDRW;
    if (Has(out, "Does read DVD-ROM media") || Has(out, "Profile: DVD-ROM")) r |= MEDIA_DVDROM;
    if (Has(out, "Does read DVD-R media") || Has(out, "Profile: DVD-R")) r |= MEDIA_DVDR;
    if (Has(out, "Does write DVD-R media") || Has(out, "Profile: DVD-R ")) w |= MEDIA_DVDR;
    if (Has(out, "Profile: DVD-R/DL")) r |= MEDIA_DVDR_DL, w |= MEDIA_DVDR_DL;
    if (Has(out, "Profile: DVD-RW")) r |= MEDIA_DVDRW, w |= MEDIA_DVDRW;
    if (Has(out, "Profile: DVD+R") || (dvd_read && Has(out, "Feature: 'DVD+R'"))) r |= MEDIA_DVDPLUSR;
    if (Has(out, "Profile: DVD+R")) w |= MEDIA_DVDPLUSR;
    if (Has(out, "Profile: DVD+R/DL") || (dvd_read && Has(out, "Feature: 'DVD+R/DL"))) r |= MEDIA_DVDPLUSR_DL;
    if (Has(out, "Profile: DVD+R/DL")) w |= MEDIA_DVDPLUSR_DL;
    if (Has(out, "Profile: DVD+RW") || (dvd_read && Has(out, "Feature: 'DVD+RW"))) r |= MEDIA_DVDPLUSRW;
    if (Has(out, "Profile: DVD+RW")) w |= MEDIA_DVDPLUSRW;
    if (Has(out, "Does read DVD-RAM media")) r |= MEDIA_DVDRAM;
    if (Has(out, "Does write DVD-RAM media")) w |= MEDIA_DVDRAM;
  }
  *read = r;
  *write = w;
}

int ParseDiscInfo(WriterKind kind, std::string_view query, std::string_view toc, uint32_t* disc_kind,
                  uint64_t* free_bytes) {
  *disc_kind = 0;
  *free_bytes = 0;
  if (Has(query, "Cannot open SCSI driver")) return 1;
  switch (kind) {
    case WriterKind::kCdrecord:
      return ParseCdrecordDiscInfo(query, disc_kind, free_bytes);
    case WriterKind::kCdrskin:
      return ParseCdrskinDiscInfo(query, disc_kind, free_bytes);
    case WriterKind::kWodim:
      return ParseWodimDiscInfo(query, toc, disc_kind, free_bytes);
    case WriterKind::kNone:
      break;
  }
  return 1;
}

bool DiscQueryNeedsToc(WriterKind kind, std::string_view query) {
  return kind == WriterKind::kWodim && !Has(query, "No disk / Wrong disk") &&
         !Has(query, "Cannot open SCSI driver");
}

bool BlankAsksForFull(std::string_view text) { return Has(text, "blank=all"); }

uint64_t ParseImageSize(std::string_view text) {
  uint64_t sectors = 0;
  ForEachLine(text, [&](std::string_view line) {
    line = Trim(line);
    bool found = false;
    const uint64_t value = LeadingNumber(line, &found);
    if (found && line.find_first_not_of("0123456789") == std::string_view::npos) sectors = value;
  });
  return sectors;
}

std::string WriterErrorLines(WriterKind kind, std::string_view text, const std::vector<std::string>& names,
                             bool skip_warnings) {
  std::string errors;
  ForEachLine(text, [&](std::string_view line) {
    for (const std::string& name : names) {
      const std::string prefix = name + ":";
      const size_t at = line.find(prefix);
      if (at == std::string_view::npos) continue;
      std::string_view rest = line.substr(at + prefix.size());
      if (!rest.empty() && rest.back() == '\r') rest.remove_suffix(1);
      if (kind == WriterKind::kCdrskin) {
        // "cdrskin: FATAL : ...": libburn's severity decides.
        const std::string_view body = Trim(rest);
        if (!(body.starts_with("FATAL") || body.starts_with("SORRY") || body.starts_with("FAILURE") ||
              body.starts_with("ABORT")))
          break;
      }
      const bool warning =
          kind == WriterKind::kCdrecord ? Has(rest, "WARNING") : ContainsNoCase(rest, "warning");
      if (skip_warnings && warning) break;
      errors.append(rest);
      errors.append("\r\n");
      break;
    }
  });
  return errors;
}

int ParseImageProgress(std::string_view text) {
  const size_t at = text.rfind("done, estimate finish");
  if (at == std::string_view::npos) return -1;
  std::string_view head = text.substr(0, at);
  const size_t nl = head.rfind('\n');
  if (nl != std::string_view::npos) head.remove_prefix(nl + 1);
  const size_t pct = head.rfind('%');
  if (pct == std::string_view::npos) return -1;
  size_t begin = pct;
  while (begin > 0 && (std::isdigit(static_cast<unsigned char>(head[begin - 1])) || head[begin - 1] == '.'))
    --begin;
  if (begin == pct) return -1;
  const double value = std::strtod(std::string(head.substr(begin, pct - begin)).c_str(), nullptr);
  if (!(value >= 0)) return -1;
  return value >= 100 ? 100 : static_cast<int>(value);
}

int ParseAudioProgress(std::string_view text, int track_count) {
  const size_t at = text.rfind(": Total bytes read/written:");
  if (at == std::string_view::npos || track_count <= 0) return -1;
  const std::string_view head = text.substr(0, at);
  const size_t blank = head.find_last_of(" \t\n");
  const std::string_view number = blank == std::string_view::npos ? head : head.substr(blank + 1);
  bool found = false;
  const uint64_t track = LeadingNumber(number, &found);
  if (!found) return -1;
  const uint64_t percent = std::min<uint64_t>(track, static_cast<uint64_t>(track_count)) * 100 /
                           static_cast<uint64_t>(track_count);
  return static_cast<int>(percent);
}

}  // namespace lyr::burn
