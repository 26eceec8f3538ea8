// lyr-burn-emu: a stand-in disc writer for tests and the demo. Run under the
// name cdrecord, cdrskin or wodim (or with --as=NAME first) it accepts the
// command lines the burner tool runner builds and prints what that writer
// prints for them, refusals included: wodim has no -minfo, cdrskin leaves
// -prcap unimplemented.
//
// Its drives and discs live in a state folder named by LYR_BURN_EMU_STATE:
//   drives.txt          one drive a line: ADDRESS 'VENDOR' 'PRODUCT' READ WRITE
//                       (READ and WRITE are media-kind bits, for example 0x1FFF)
//   disc-B,T,L.txt      the disc in that drive, key=value lines:
//                       kind=none|CD-ROM|CD-R|CD-RW|DVD-ROM|DVD-R|DVD-RW|DVD+R|DVD+RW|DVD-RAM
//                       blank=1|0      free=SECTORS (writable sectors left)
//                       fault=none|wrong-disc|blank-needs-all|error-midway|fail|fail-silent|hang|
//                             hang-query|hang-blank
//                       track_delay_ms=N (pause after each track or piece of a data burn)
//   refused.txt         options this writer refuses, one a line (for example -scanbus)
// A writer that hangs (fault=hang, hang-query, hang-blank) writes its process
// id to hung.pid first; Ctrl+C (SIGINT) ends it.
// A burn writes what it received into burned/B,T,L/: the data image as
// image.iso, each audio track as trackNN.cdda (the 16-bit stereo samples it
// would put on the disc, padded to whole 2352-byte sectors). Every run
// appends its arguments to calls.log, one argument a line, a blank line after.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

enum class Persona { kCdrecord, kCdrskin, kWodim };

Persona g_as = Persona::kCdrecord;
const char* g_name = "cdrecord";
fs::path g_state;

struct Drive {
  std::string address;
  std::string vendor;
  std::string product;
  uint32_t read = 0;
  uint32_t write = 0;
};

struct Disc {
  std::string kind = "none";
  bool blank = true;
  uint64_t free = 0;
  std::string fault = "none";
  int track_delay_ms = 0;
};

void Out(const std::string& text) {
  std::fputs(text.c_str(), stdout);
  std::fflush(stdout);
}
void Err(const std::string& text) {
  std::fputs(text.c_str(), stderr);
  std::fflush(stderr);
}
// A line the writer prefixes with its own name.
void Named(const std::string& text) { Err(std::string(g_name) + ": " + text + "\n"); }

std::vector<Drive> LoadDrives() {
  std::vector<Drive> drives;
  if (g_state.empty()) return drives;
  std::ifstream in(g_state / "drives.txt");
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    Drive d;
    std::istringstream s(line);
    s >> d.address;
    auto quoted = [&](std::string* out) {
      std::string rest;
      std::getline(s, rest, '\'');
      std::getline(s, *out, '\'');
    };
    quoted(&d.vendor);
    quoted(&d.product);
    std::string r, w;
    s >> r >> w;
    d.read = static_cast<uint32_t>(std::strtoul(r.c_str(), nullptr, 0));
    d.write = static_cast<uint32_t>(std::strtoul(w.c_str(), nullptr, 0));
    drives.push_back(d);
  }
  return drives;
}

fs::path DiscFile(const std::string& address) { return g_state / ("disc-" + address + ".txt"); }

Disc LoadDisc(const std::string& address) {
  Disc disc;
  std::ifstream in(DiscFile(address));
  std::string line;
  while (std::getline(in, line)) {
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    if (key == "kind") disc.kind = value;
    if (key == "blank") disc.blank = value == "1";
    if (key == "free") disc.free = std::strtoull(value.c_str(), nullptr, 10);
    if (key == "fault") disc.fault = value;
    if (key == "track_delay_ms") disc.track_delay_ms = std::atoi(value.c_str());
  }
  return disc;
}

void SaveDisc(const std::string& address, const Disc& disc) {
  std::ofstream out(DiscFile(address), std::ios::trunc);
  out << "kind=" << disc.kind << "\nblank=" << (disc.blank ? 1 : 0) << "\nfree=" << disc.free
      << "\nfault=" << disc.fault << "\ntrack_delay_ms=" << disc.track_delay_ms << "\n";
}

uint64_t CapacityOf(const std::string& kind) {
  if (kind.rfind("CD", 0) == 0) return 359849;
  if (kind == "DVD-RAM") return 2236704;
  return 2295104;
}

bool IsKind(const Disc& d, std::initializer_list<const char*> kinds) {
  for (const char* k : kinds)
    if (d.kind == k) return true;
  return false;
}
bool IsCd(const Disc& d) { return d.kind.rfind("CD", 0) == 0; }
bool Erasable(const Disc& d) { return IsKind(d, {"CD-RW", "DVD-RW", "DVD+RW", "DVD-RAM"}); }

[[noreturn]] void Hang() {
  std::ofstream(g_state / "hung.pid") << ::getpid() << "\n";
  for (;;) ::pause();  // SIGINT ends it
}

// ---- what each writer prints ----

void PrintVersion() {
  switch (g_as) {
    case Persona::kCdrecord:
      Out("Cdrecord-ProDVD-ProBD-Clone 3.02a09 (x86_64-pc-linux-gnu)\n");
      break;
    case Persona::kCdrskin:
      Out("cdrskin 1.5.4 : limited cdrecord compatibility wrapper for libburn\n"
          "Cdrecord 2.01a27 Emulation. Copyright (C) 2006-2021, see libburnia-project.org\n"
          "System adapter    :  internal GNU/Linux SG_IO adapter sg-linux\n"
          "libburn interface :  1.5.4\nlibburn in use    :  1.5.4\ncdrskin version   :  1.5.4\n");
      break;
    case Persona::kWodim:
      Out("Cdrecord-yelling-line-to-tell-frontends-to-use-it-like-version 2.01.01a03-dvd \n"
          "Wodim 1.1.11\nCopyright (C) 2006 Cdrkit suite contributors\n");
      break;
  }
}

void CdrskinBanner() { Out("cdrskin 1.5.4 : limited cdrecord compatibility wrapper for libburn\n"); }

void NoSuchDrive(const std::string& address) {
  if (g_as == Persona::kCdrskin) {
    CdrskinBanner();
    Named("FATAL : Cannot find /dev/* with Bus,Target,Lun = " + address);
    Named("HINT : This drive may be in use by another program currently");
    std::exit(11);
  }
  Named("No such file or directory. ");
  Err("Cannot open SCSI driver!\nFor possible targets try '" + std::string(g_name) + " --devices' or '" +
      g_name + " -scanbus'.\n");
  std::exit(g_as == Persona::kWodim ? 0 : 255);
}

void Scanbus(const std::vector<Drive>& drives) {
  if (g_as == Persona::kCdrskin) {
    CdrskinBanner();
    Named("scanning for devices ...");
    Named("... scanning for devices done");
    if (drives.empty()) Named("NOTE : No usable drive detected.");
    Out("Using libburn version '1.5.4'.\n");
  } else if (drives.empty()) {
    Named("No such file or directory. ");
    Err("Cannot open SCSI driver!\n");
    return;
  } else {
    Out("scsidev: '0,0,0'\nUsing libscg version 'schily-0.9'.\n");
  }
  if (drives.empty()) return;
  Out("scsibus0:\n");
  int n = 0;
  for (const auto& d : drives) {
    char vendor[16], product[32];
    // cdrecord pads the inquiry texts to their field widths; cdrskin does not.
    if (g_as == Persona::kCdrskin) {
      std::snprintf(vendor, sizeof vendor, "%s", d.vendor.c_str());
      std::snprintf(product, sizeof product, "%s", d.product.c_str());
    } else {
      std::snprintf(vendor, sizeof vendor, "%-8.8s", d.vendor.c_str());
      std::snprintf(product, sizeof product, "%-16.16s", d.product.c_str());
    }
    char line[160];
    std::snprintf(line, sizeof line, "\t%s\t%3d) '%s' '%s' 'TN02' Removable CD-ROM\n", d.address.c_str(), n,
                  vendor, product);
    Out(line);
    ++n;
  }
  if (g_as != Persona::kCdrskin) Out("\t0,7,0\t  7) *\n");
}

void Inquiry(const Drive& d) {
  Out("Device type    : Removable CD-ROM\nVersion        : 5\nResponse Format: 2\nCapabilities   : \n");
  Out("Vendor_info    : '" + d.vendor + "'\nIdentification : '" + d.product + "'\nRevision       : 'TN02'\n");
}

void MemlockWarning() {
  if (g_as == Persona::kWodim) Named("Operation not permitted. Warning: Cannot raise RLIMIT_MEMLOCK limits.");
  if (g_as == Persona::kCdrecord) Named("Operation not permitted. WARNING: Cannot do mlockall(2).");
}

struct Bit {
  uint32_t bit;
  const char* profile;  // cdrecord's name
  unsigned number;      // the MMC profile number cdrskin shows
  const char* read;     // "Does read X media" of page 2A, or null
};
constexpr Bit kBits[] = {
    {0x1000, "DVD-RAM", 0x12, "DVD-RAM"},
    {0x0200, "DVD+R/DL", 0x2B, nullptr},
    {0x0100, "DVD+R", 0x1B, nullptr},
    {0x0400, "DVD+RW", 0x1A, nullptr},
    {0x0040, "DVD-R/DL sequential recording", 0x15, nullptr},
    {0x0080, "DVD-RW sequential recording", 0x14, nullptr},
    {0x0020, "DVD-R sequential recording", 0x11, "DVD-R"},
    {0x0010, "DVD-ROM", 0x10, "DVD-ROM"},
    {0x0004, "CD-RW", 0x0A, "CD-RW"},
    {0x0002, "CD-R", 0x09, "CD-R"},
    {0x0001, "CD-ROM", 0x08, nullptr},
};

void Prcap(const Drive& d) {
  if (g_as == Persona::kCdrskin) {
    CdrskinBanner();
    Named("NOTE : ignoring unimplemented option : '-prcap'");
    Named("NOTE : option is waiting for a volunteer to implement it.");
    return;
  }
  MemlockWarning();
  Inquiry(d);
  Out("Device seems to be: Generic mmc2 DVD-R/DVD-RW.\n\nDrive capabilities, per MMC-3 page 2A:\n\n");
  for (auto it = std::rbegin(kBits); it != std::rend(kBits); ++it) {
    if (it->read == nullptr) continue;
    if (d.read & it->bit) Out(std::string("  Does read ") + it->read + " media\n");
    if (d.write & it->bit) Out(std::string("  Does write ") + it->read + " media\n");
  }
  Out("  Does support test writing\n\n  Does read Mode 2 Form 1 blocks\n  Does play audio CDs\n\n");
  // cdrecord 3.x also lists the drive's profiles; wodim does not.
  if (g_as == Persona::kCdrecord && (d.read | d.write) != 0) {
    Out("Supported profiles according to MMC-4 feature 0x0000:\n");
    for (const auto& b : kBits)
      if ((d.read | d.write) & b.bit) Out(std::string("Profile: ") + b.profile + " \n");
  }
}

const char* CdrskinStatus(const Disc& disc) {
  if (disc.kind == "none") return "status 0 burn_disc_empty \"There is no disc at all in the drive\"";
  if (disc.blank) return "status 1 burn_disc_blank \"The drive holds a blank disc\"";
  return "status 4 burn_disc_full \"There is a disc with data on it in the drive\"";
}

// cdrskin's pseudo-atip: the drive's profile list and the current one.
void CdrskinAtip(const Drive& d, const Disc& disc, const std::string& address) {
  CdrskinBanner();
  Named("verbosity level : 1");
  Named("NOTE : greying out all drives besides given dev='" + address + "'");
  Named("scanning for devices ...");
  Named("... scanning for devices done");
  Named("pseudo-atip on drive 0");
  Named(CdrskinStatus(disc));
  Out("scsidev: '" + address + "'\nDevice type    : Removable CD-ROM\n");
  Out("Vendor_info    : '" + d.vendor + "'\nIdentifikation : '" + d.product + "'\nRevision       : 'TN02'\n");
  Out("Driver flags   : BURNFREE\nSupported modes: TAO SAO\n");
  Out("Current: " + (disc.kind == "none" ? std::string("none") : disc.kind) + "\n");
  for (const auto& b : kBits) {
    if (!((d.read | d.write) & b.bit)) continue;
    char line[96];
    std::snprintf(line, sizeof line, "Profile: 0x%04X (%s)%s\n", b.number, b.profile,
                  disc.kind == b.profile ? " (current)" : "");
    Out(line);
  }
  if (disc.kind == "CD-RW") Out("  Is erasable\n");
}

void TrackTable(const Disc& disc) {
  Out("\nTrack  Sess Type   Start Addr End Addr   Size\n==============================================\n");
  const uint64_t cap = CapacityOf(disc.kind);
  char line[128];
  std::snprintf(line, sizeof line, "    1     1 %-6s 0          %-10llu %-10llu\n",
                disc.blank ? "Blank" : "Data", static_cast<unsigned long long>(cap - 1),
                static_cast<unsigned long long>(cap));
  Out(line);
}

const char* CdrecordDriver(const Disc& disc) {
  if (IsCd(disc)) return "Using generic SCSI-3/mmc   CD-R/CD-RW driver (mmc_cdr).\n";
  if (disc.kind == "DVD+R") return "Using generic SCSI-3/mmc-3 DVD+R driver (mmc_dvdplusr).\n";
  if (disc.kind == "DVD+RW") return "Using generic SCSI-3/mmc-3 DVD+RW driver (mmc_dvdplusrw).\n";
  if (g_as == Persona::kWodim) return "Using generic SCSI-3/mmc DVD-R(W) driver (mmc_mdvd).\n";
  return "Using generic SCSI-3/mmc-2 DVD-R/DVD-RW/DVD-RAM driver (mmc_mdvd).\n";
}

bool WrongDisc(const Disc& disc) { return disc.kind == "none" || disc.fault == "wrong-disc"; }

void Minfo(const Drive& d, const Disc& disc, const std::string& address) {
  if (g_as == Persona::kWodim) {
    Named("Bad Option: -minfo.");
    Err("Usage: wodim [options] track1...trackn\n\nUse\twodim -help\nto get a list of valid options.\n");
    std::exit(0);
  }
  if (g_as == Persona::kCdrskin) {
    CdrskinAtip(d, disc, address);
    if (disc.kind == "none") {
      Named("FATAL : No media detected");
      std::exit(6);
    }
    Out("\nMounted media class:      " + std::string(IsCd(disc) ? "CD" : "DVD") + "\n");
  } else {
    PrintVersion();
    Out("scsidev: '" + address + "'\n");
    Inquiry(d);
    if (WrongDisc(disc)) {
      Named("No disk / Wrong disk!");
      std::exit(255);
    }
    Out(CdrecordDriver(disc));
    Out("Driver flags   : MMC-3 SWABAUDIO BURNFREE\nSupported modes: TAO PACKET SAO\n");
    Out("Mounted media class:      " + std::string(IsCd(disc) ? "CD" : "DVD") + "\n");
  }
  Out("Mounted media type:       " + disc.kind + "\n");
  Out(std::string(Erasable(disc) ? "Disk Is erasable\n" : "Disk Is not erasable\n"));
  Out(std::string("disk status:              ") + (disc.blank ? "empty" : "complete") + "\n");
  Out(std::string("session status:           ") + (disc.blank ? "empty" : "complete") + "\n");
  Out("first track:              1\nnumber of sessions:       1\n");
  TrackTable(disc);
  if (disc.blank && disc.free > 0) {
    Out("\nNext writable address:    0\n");
    Out("Remaining writable size:  " + std::to_string(disc.free) + "\n");
  }
}

void Atip(const Drive& d, const Disc& disc, const std::string& address) {
  if (g_as == Persona::kCdrskin) {
    CdrskinAtip(d, disc, address);
    return;
  }
  if (g_as == Persona::kCdrecord) PrintVersion();
  Inquiry(d);
  Out("Device seems to be: Generic mmc2 DVD-R/DVD-RW.\n");
  if (WrongDisc(disc)) {
    Named("No disk / Wrong disk!");
    std::exit(255);
  }
  Out(CdrecordDriver(disc));
  Out("Driver flags   : MMC-3 SWABAUDIO BURNFREE \nSupported modes: TAO PACKET SAO\n");
  if (IsCd(disc)) {
    const bool rw = disc.kind == "CD-RW";
    Out("ATIP info from disk:\n  Indicated writing power: 4\n  Is not unrestricted\n");
    Out(rw ? "  Is erasable\n" : "  Is not erasable\n");
    Out("  ATIP start of lead in:  -11634 (97:26/66)\n");
    Out("  ATIP start of lead out: " + std::to_string(disc.blank ? disc.free : CapacityOf(disc.kind)) +
        " (79:59/71)\n");
  } else if (Erasable(disc)) {
    Out("  Is erasable\n");
  }
}

void Toc(const Drive& d, const Disc& disc) {
  Inquiry(d);
  if (WrongDisc(disc)) {
    Named("No disk / Wrong disk!");
    std::exit(255);
  }
  if (disc.blank) {
    Named("Cannot read TOC header");
    Named("Cannot read TOC/PMA");
    std::exit(255);
  }
  Out("first: 1 last: 1\n");
  Out("track:   1 lba:         0 (        0) 00:02:00 adr: 1 control: 4 mode: 1\n");
  Out("track:lout lba:    " + std::to_string(CapacityOf(disc.kind)) +
      " (  1439396) 79:59:74 adr: 1 control: 4 mode: -1\n");
}

void Blank(const Drive& d, Disc disc, const std::string& address, const std::string& type) {
  MemlockWarning();
  if (g_as == Persona::kCdrskin) {
    CdrskinBanner();
    Named("NOTE : greying out all drives besides given dev='" + address + "'");
  } else {
    Inquiry(d);
  }
  if (WrongDisc(disc)) {
    Named(g_as == Persona::kCdrskin ? "FATAL : No media detected" : "No disk / Wrong disk!");
    std::exit(255);
  }
  if (!Erasable(disc)) {
    Named(g_as == Persona::kCdrskin ? "FATAL : Media not blankable" : "Cannot blank disk, aborting.");
    std::exit(255);
  }
  if (type == "fast" && disc.fault == "blank-needs-all") {
    Named("Cannot blank disk, aborting.");
    Named("Some drives do not support all blank types.");
    Named(std::string("Try again with ") + g_name + " blank=all.");
    disc.fault = "none";  // the full blank clears what the fast one could not
    SaveDisc(address, disc);
    std::exit(255);
  }
  Out("Starting to write CD/DVD at speed 10.0 in real BLANK mode for single session.\n");
  Out("Last chance to quit, starting real write in    0 seconds. Operation starts.\n");
  if (disc.fault == "hang-blank") Hang();
  Out("Blanking PMA, TOC, pregap\nBlanking time:    0.010s\n");
  if (g_as == Persona::kCdrskin) Named("Blanking done");
  disc.blank = true;
  disc.free = CapacityOf(disc.kind);
  SaveDisc(address, disc);
}

void Pause(const Disc& disc) {
  if (disc.track_delay_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(disc.track_delay_ms));
}

[[noreturn]] void HangUntilCancelled() {
  Out("Track 01:    0 of    1 MB written (fifo 100%) [buf 100%]   4.0x.\n");
  Hang();
}

void FailBurn(const Disc& disc) {
  if (disc.fault == "fail-silent") std::exit(254);
  if (g_as == Persona::kCdrskin) {
    Named("FATAL : burning failed.");
  } else {
    Named("Cannot open new session.");
    Named("Cannot fixate disk.");
  }
  std::exit(255);
}

void MidwayError() {
  if (g_as == Persona::kCdrskin)
    Named("FAILURE : Write error on track 1");
  else
    Named("Input/output error. write_g1: scsi sendcmd: no error");
}

bool CheckBurnable(const Disc& disc, uint64_t sectors) {
  if (WrongDisc(disc) || !disc.blank || IsKind(disc, {"CD-ROM", "DVD-ROM"})) {
    Named(g_as == Persona::kCdrskin ? "FATAL : No suitable media detected" : "No disk / Wrong disk!");
    return false;
  }
  if (sectors > disc.free) {
    Named(g_as == Persona::kCdrskin ? "FATAL : Track size exceeds media capacity"
                                    : "Data will not fit on any disk.");
    return false;
  }
  return true;
}

fs::path BurnFolder(const std::string& address) {
  const fs::path dir = g_state / "burned" / address;
  std::error_code ec;
  fs::create_directories(dir, ec);
  return dir;
}

void BurnHead(const std::string& address) {
  MemlockWarning();
  if (g_as == Persona::kCdrskin) {
    CdrskinBanner();
    Named("NOTE : greying out all drives besides given dev='" + address + "'");
    Named("beginning to burn disc");
  } else {
    PrintVersion();
  }
}

void FinishBurn(Disc disc, const std::string& address, uint64_t sectors) {
  Out("Fixating...\nFixating time:    0.010s\n");
  if (g_as == Persona::kCdrskin) Named("burning done");
  disc.blank = false;
  (void)sectors;
  disc.free = 0;
  SaveDisc(address, disc);
}

int DataBurn(const std::string& address, Disc disc, uint64_t tsize) {
  BurnHead(address);
  if (!CheckBurnable(disc, tsize)) return 255;
  if (disc.fault == "fail" || disc.fault == "fail-silent") FailBurn(disc);
  Out("Track 01: data  " + std::to_string(tsize * 2048 / 1048576) + " MB        \n");
  Out("Starting new track at sector: 0\n");
  if (disc.fault == "hang") HangUntilCancelled();
  const fs::path iso = BurnFolder(address) / "image.iso";
  FILE* out = std::fopen(iso.c_str(), "wb");
  if (out == nullptr) return 255;
  std::vector<char> buffer(1 << 16);
  uint64_t total = 0;
  bool error_said = false;
  for (size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), stdin)) > 0;) {
    std::fwrite(buffer.data(), 1, n, out);
    total += n;
    if (disc.fault == "error-midway" && !error_said && total * 2 >= tsize * 2048) {
      MidwayError();
      error_said = true;
    }
    char line[128];
    std::snprintf(line, sizeof line, "Track 01: %4llu of %4llu MB written (fifo 100%%) [buf 100%%]  16.0x.\n",
                  static_cast<unsigned long long>(total >> 20),
                  static_cast<unsigned long long>((tsize * 2048) >> 20));
    Out(line);
    Pause(disc);
  }
  std::fclose(out);
  if (disc.fault == "error-midway" && !error_said) MidwayError();
  const uint64_t sectors = (total + 2047) / 2048;
  Out("Track 01: Total bytes read/written: " + std::to_string(total) + "/" + std::to_string(sectors * 2048) +
      " (" + std::to_string(sectors) + " sectors).\n");
  FinishBurn(disc, address, sectors);
  return 0;
}

uint32_t Le32(const unsigned char* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}
uint16_t Le16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

// The samples of a CD-format WAVE file, or false with the writer's complaint.
bool ReadWave(const std::string& path, std::vector<unsigned char>* pcm) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    Named("No such file or directory. Cannot open '" + path + "'.");
    return false;
  }
  std::vector<unsigned char> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  bool ok = data.size() >= 44 && std::memcmp(data.data(), "RIFF", 4) == 0 &&
            std::memcmp(data.data() + 8, "WAVE", 4) == 0;
  size_t pos = 12;
  bool fmt_ok = false;
  while (ok && pos + 8 <= data.size()) {
    const uint32_t size = Le32(&data[pos + 4]);
    const unsigned char* body = &data[pos + 8];
    if (std::memcmp(&data[pos], "fmt ", 4) == 0 && size >= 16 && pos + 8 + 16 <= data.size()) {
      fmt_ok = Le16(body) == 1 && Le16(body + 2) == 2 && Le32(body + 4) == 44100 && Le16(body + 14) == 16;
    } else if (std::memcmp(&data[pos], "data", 4) == 0) {
      const size_t n = std::min<size_t>(size, data.size() - pos - 8);
      pcm->assign(body, body + n);
      return fmt_ok || (Named("Inappropriate audio coding in '" + path + "'."), false);
    }
    pos += 8 + size + (size & 1);
  }
  Named("Inappropriate audio coding in '" + path + "'.");
  return false;
}

int AudioBurn(const std::string& address, Disc disc, const std::vector<std::string>& tracks) {
  BurnHead(address);
  std::vector<std::vector<unsigned char>> pcm(tracks.size());
  uint64_t sectors = 0;
  for (size_t i = 0; i < tracks.size(); ++i) {
    if (!ReadWave(tracks[i], &pcm[i])) return 255;
    pcm[i].resize((pcm[i].size() + 2351) / 2352 * 2352, 0);  // -pad: whole sectors
    sectors += pcm[i].size() / 2352 + 150;
  }
  if (!IsCd(disc) && !WrongDisc(disc)) {
    Named(g_as == Persona::kCdrskin ? "FATAL : Audio tracks are only possible on CD media"
                                    : "Audio tracks are only possible on CD media.");
    return 255;
  }
  if (!CheckBurnable(disc, sectors)) return 255;
  if (disc.fault == "fail" || disc.fault == "fail-silent") FailBurn(disc);
  for (size_t i = 0; i < tracks.size(); ++i) {
    char line[128];
    std::snprintf(line, sizeof line, "Track %02zu: audio  %3zu MB (%02zu:%02zu.00) no preemp pad\n", i + 1,
                  pcm[i].size() >> 20, pcm[i].size() / 176400 / 60, pcm[i].size() / 176400 % 60);
    Out(line);
  }
  Out("Starting to write CD/DVD at speed 16.0 in real SAO mode for single session.\n");
  if (disc.fault == "hang") HangUntilCancelled();
  const fs::path dir = BurnFolder(address);
  uint64_t at = 0;
  for (size_t i = 0; i < tracks.size(); ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "track%02zu.cdda", i + 1);
    std::ofstream(dir / name, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(pcm[i].data()), static_cast<std::streamsize>(pcm[i].size()));
    Out("Starting new track at sector: " + std::to_string(at) + "\n");
    if (disc.fault == "error-midway" && i == tracks.size() / 2) MidwayError();
    char line[160];
    std::snprintf(line, sizeof line, "Track %02zu: Total bytes read/written: %zu/%zu (%zu sectors).\n", i + 1,
                  pcm[i].size(), pcm[i].size(), pcm[i].size() / 2352);
    Out(line);
    at += pcm[i].size() / 2352 + 150;
    Pause(disc);
  }
  FinishBurn(disc, address, sectors);
  return 0;
}

void LogCall(int argc, char** argv) {
  std::ofstream log(g_state / "calls.log", std::ios::app);
  for (int i = 0; i < argc; ++i) log << argv[i] << "\n";
  log << "\n";
}

}  // namespace

int main(int argc, char** argv) {
  std::string as = fs::path(argv[0]).filename().string();
  int first = 1;
  if (argc > 1 && std::strncmp(argv[1], "--as=", 5) == 0) {
    as = argv[1] + 5;
    first = 2;
  }
  if (as == "cdrskin") {
    g_as = Persona::kCdrskin;
    g_name = "cdrskin";
  } else if (as == "wodim") {
    g_as = Persona::kWodim;
    g_name = "wodim";
  }
  const char* state = std::getenv("LYR_BURN_EMU_STATE");
  // Without a state folder there are no drives, and nothing is written.
  g_state = state != nullptr ? state : "";
  if (!g_state.empty()) LogCall(argc, argv);
  if (!g_state.empty()) {
    std::ifstream refused(g_state / "refused.txt");
    for (std::string option; std::getline(refused, option);)
      for (int i = first; i < argc; ++i)
        if (!option.empty() && option == argv[i]) {
          Named("Bad Option: " + option + ".");
          Err("Usage: " + std::string(g_name) + " [options] track1...trackn\n");
          return 255;
        }
  }

  std::string address, blank;
  bool scan = false, prcap = false, minfo = false, atip = false, toc = false, version = false,
       from_stdin = false;
  uint64_t tsize = 0;
  std::vector<std::string> tracks;
  for (int i = first; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&](const char* key) {
      const std::string k = key;
      if (a.rfind(k, 0) == 0) return a.substr(k.size());
      if (a.rfind("-" + k, 0) == 0) return a.substr(k.size() + 1);
      return std::string("\x01");
    };
    if (a == "-version")
      version = true;
    else if (a == "-scanbus")
      scan = true;
    else if (a == "-prcap")
      prcap = true;
    else if (a == "-minfo")
      minfo = true;
    else if (a == "-atip")
      atip = true;
    else if (a == "-toc")
      toc = true;
    else if (a == "-")
      from_stdin = true;
    else if (a == "-v" || a == "-tao" || a == "-dao" || a == "-sao" || a == "-pad")
      continue;
    else if (std::string v = value("dev="); v != "\x01")
      address = v;
    else if (std::string v = value("blank="); v != "\x01")
      blank = v;
    else if (std::string v = value("tsize="); v != "\x01")
      tsize = std::strtoull(v.c_str(), nullptr, 10);
    else if (a.find('=') != std::string::npos)
      continue;  // gracetime=, driveropts=, padsize=
    else if (!a.empty() && a[0] == '-') {
      Named("Bad Option: " + a + ".");
      return g_as == Persona::kWodim ? 0 : 255;
    } else {
      tracks.push_back(a);
    }
  }
  if (version) {
    PrintVersion();
    return 0;
  }
  ::signal(SIGPIPE, SIG_DFL);
  const std::vector<Drive> drives = LoadDrives();
  if (scan) {
    Scanbus(drives);
    return 0;
  }
  // wodim refuses the option before it looks for the drive.
  if (minfo && g_as == Persona::kWodim) Minfo(Drive{}, Disc{}, address);
  const Drive* drive = nullptr;
  for (const auto& d : drives)
    if (d.address == address) drive = &d;
  if (drive == nullptr) NoSuchDrive(address);
  const Disc disc = LoadDisc(address);
  if ((minfo || atip) && disc.fault == "hang-query") Hang();
  if (prcap)
    Prcap(*drive);
  else if (minfo)
    Minfo(*drive, disc, address);
  else if (atip)
    Atip(*drive, disc, address);
  else if (toc)
    Toc(*drive, disc);
  else if (!blank.empty())
    Blank(*drive, disc, address, blank);
  else if (from_stdin)
    return DataBurn(address, disc, tsize);
  else if (!tracks.empty())
    return AudioBurn(address, disc, tracks);
  else {
    Named("No tracks specified. Need at least one.");
    return 255;
  }
  return 0;
}
