#pragma once
// What the disc writers and the image maker print, turned into facts. Pure
// functions over text, one place per writer kind: cdrecord 3.x is read by
// its own texts; cdrskin and wodim print other texts for the same facts (or
// refuse the command cdrecord would use), and each is read by its own.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "burn/burner_tools.h"

namespace lyr::burn {

// The kind of writer from what `-version` printed: cdrskin names itself on
// its first line (and claims a cdrecord 2.01 on the next), wodim says
// "Wodim", cdrecord 3.x "Cdrecord... 3.". An older cdrecord has no -minfo
// and is driven like wodim.
WriterKind WriterKindFromVersion(std::string_view version_output);
const char* WriterKindName(WriterKind kind);

// The drives of a `-scanbus` output, in the order printed: each line holding
// "Removable CD-ROM", with the address between its first two tabs and the
// vendor and product as its first two single-quoted texts.
std::vector<BURN_DRIVE_INFO> ParseScanOutput(std::string_view text);

// Read and write capabilities from the capabilities command's output:
// cdrecord and wodim `-prcap` (wodim prints no "Profile:" lines), cdrskin
// `-atip` with its "Profile: 0x.... (name)" list.
void ParseCapabilities(WriterKind kind, std::string_view text, uint32_t* read_capabilities,
                       uint32_t* write_capabilities);

// The disc in a drive. `query` is the disc query's output (`-minfo` for
// cdrecord and cdrskin, `-atip` for wodim); `toc` is wodim's `-toc` output,
// which tells a blank disc from a written one. 1 when the tool could not
// reach the drive at all.
int ParseDiscInfo(WriterKind kind, std::string_view query, std::string_view toc, uint32_t* disc_kind,
                  uint64_t* free_bytes);
// What the disc query needs besides its first command: wodim's `-toc` when
// its `-atip` found a disc.
bool DiscQueryNeedsToc(WriterKind kind, std::string_view query);

// Whether a quick blank asked for a full one ("cdrecord blank=all").
bool BlankAsksForFull(std::string_view text);

// The image size in 2048-byte sectors: the last line that is a number alone
// (mkisofs prints it last; xorrisofs may print its banner after it). 0 when
// none.
uint64_t ParseImageSize(std::string_view text);

// Error lines of a writer, in the pollers' form: each line's text after the
// tool's name and colon, followed by "\r\n". cdrecord and wodim name
// themselves on every line they print to stderr; cdrskin prefixes notes and
// hints too, so only its FATAL, SORRY, FAILURE and ABORT lines count. With
// `skip_warnings`, lines that warn are left out (wodim spells it "Warning").
std::string WriterErrorLines(WriterKind kind, std::string_view text, const std::vector<std::string>& names,
                             bool skip_warnings);

// The image maker's progress: the number before the last "%" of the last
// "done, estimate finish" line (mkisofs and genisoimage print "  45.67% done,
// estimate finish ...", xorrisofs "xorriso : UPDATE :  45.67% done, ...").
// -1 when the text holds none.
int ParseImageProgress(std::string_view text);

// The audio burn's progress: the number of the last track whose "Track NN:
// Total bytes read/written:" line was printed, times 100 over the track
// count. -1 when the text holds none.
int ParseAudioProgress(std::string_view text, int track_count);

}  // namespace lyr::burn
