#pragma once
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace lyrctl {

// Text from the recorder (recording names, free text, the recorder text, the
// file name prefix) is in the recorder's 8-bit character set, Latin-1
// (ISO 8859-1). These turn it into UTF-8.

// For JSON: every character kept; JSON escapes the control characters itself.
std::string DeviceJsonText(std::string_view latin1);
// For the terminal: control characters (C0, DEL, C1) shown as "\x1b", so that
// a name can never move the cursor, retitle or clear the terminal.
std::string DeviceShownText(std::string_view latin1);
// The same for a message of several lines (the system's own span lines): a
// line feed stays a line break, every other control is shown by its code.
std::string DeviceShownLines(std::string_view latin1);

// Text of this computer (paths, arguments as typed): UTF-8 kept, a byte that
// is not part of UTF-8 shown as "\xe9". The shown form also escapes control
// characters; the JSON form keeps them.
std::string LocalJsonText(std::string_view text);
std::string LocalShownText(std::string_view text);
// The shown form of a message of several lines (a failure with a tool's
// lines under it): each line shown on its own, line breaks kept.
std::string LocalShownLines(std::string_view text);

// Columns a shown text takes on the terminal (each character one column:
// the shown forms hold no controls, and Latin-1 has no wide characters).
size_t ShownWidth(std::string_view shown);
// `shown` padded with spaces to `width` columns, as "%-*s" would pad ASCII.
std::string PadShown(std::string_view shown, size_t width);

// Prints a command's JSON on stdout. Never throws: the texts in it are
// converted above, and anything that still is not UTF-8 is replaced.
void PrintJson(const nlohmann::json& j);

// The version of the form of lyrctl's JSON, in every object it prints as
// "schema_version".
constexpr int kJsonSchemaVersion = 1;

// A failure with --json: {"error": {"message": ..., "exit_status": N}} on
// stdout, beside the line on stderr.
void PrintJsonError(const std::string& message, int exit_status);

}  // namespace lyrctl
