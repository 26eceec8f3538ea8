#include "text_output.h"

#include <cstdio>

#include "recordings/device_text.h"

namespace lyrctl {
namespace {

bool IsControl(uint32_t c) { return c <= 0xFF && lyr::IsLatin1Control(static_cast<uint8_t>(c)); }

void AppendEscaped(std::string& out, uint8_t byte) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += "\\x";
  out += kHex[byte >> 4];
  out += kHex[byte & 0xF];
}

std::string FromLatin1(std::string_view text, bool escape_controls) {
  if (!escape_controls) return lyr::Latin1ToUtf8(text);
  std::string out;
  out.reserve(text.size() + text.size() / 4);
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<uint8_t>(text[i]);
    if (lyr::IsLatin1Control(c))
      AppendEscaped(out, c);
    else
      out += lyr::Latin1ToUtf8(text.substr(i, 1));
  }
  return out;
}

// Length of the well-formed UTF-8 sequence at `s` (shortest form, no
// surrogates, at most U+10FFFF) and its code point; 0 when there is none.
size_t Utf8Sequence(std::string_view s, uint32_t* code_point) {
  const auto b0 = static_cast<uint8_t>(s[0]);
  size_t len;
  uint32_t c, min;
  if (b0 < 0x80) {
    *code_point = b0;
    return 1;
  } else if ((b0 & 0xE0) == 0xC0) {
    len = 2, c = b0 & 0x1F, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    len = 3, c = b0 & 0x0F, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    len = 4, c = b0 & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (s.size() < len) return 0;
  for (size_t i = 1; i < len; ++i) {
    const auto b = static_cast<uint8_t>(s[i]);
    if ((b & 0xC0) != 0x80) return 0;
    c = (c << 6) | (b & 0x3F);
  }
  if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
  *code_point = c;
  return len;
}

std::string FromLocal(std::string_view text, bool escape_controls) {
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    uint32_t c = 0;
    const size_t len = Utf8Sequence(text, &c);
    if (len == 0 || (escape_controls && IsControl(c))) {
      // A C1 control is two bytes in UTF-8; it is shown by its code.
      AppendEscaped(out, len == 0 ? static_cast<uint8_t>(text[0]) : static_cast<uint8_t>(c));
      text.remove_prefix(len == 0 ? 1 : len);
      continue;
    }
    out.append(text.substr(0, len));
    text.remove_prefix(len);
  }
  return out;
}

}  // namespace

std::string DeviceJsonText(std::string_view latin1) { return FromLatin1(latin1, false); }
std::string DeviceShownText(std::string_view latin1) { return FromLatin1(latin1, true); }
namespace {

// Each line through `shown`, line breaks kept (a tool's CR LF too).
template <typename Shown>
std::string ShownByLines(std::string_view text, Shown shown) {
  std::string out;
  for (size_t end = text.find('\n');; end = text.find('\n')) {
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    out += shown(line);
    if (end == std::string_view::npos) return out;
    out += '\n';
    text.remove_prefix(end + 1);
  }
}

}  // namespace

std::string DeviceShownLines(std::string_view latin1) {
  return ShownByLines(latin1, [](std::string_view line) { return FromLatin1(line, true); });
}
std::string LocalJsonText(std::string_view text) { return FromLocal(text, false); }
std::string LocalShownText(std::string_view text) { return FromLocal(text, true); }
std::string LocalShownLines(std::string_view text) {
  return ShownByLines(text, [](std::string_view line) { return FromLocal(line, true); });
}

size_t ShownWidth(std::string_view shown) {
  // One column per character: count all but UTF-8 continuation bytes.
  size_t width = 0;
  for (const char c : shown)
    if ((static_cast<uint8_t>(c) & 0xC0) != 0x80) ++width;
  return width;
}

std::string PadShown(std::string_view shown, size_t width) {
  std::string out(shown);
  const size_t used = ShownWidth(shown);
  if (used < width) out.append(width - used, ' ');
  return out;
}

namespace {

// Whether this run printed its JSON: a failure after that (a command that
// failed partway) leaves stdout one JSON document.
bool g_json_printed = false;

}  // namespace

void PrintJson(const nlohmann::json& j) {
  g_json_printed = true;
  nlohmann::json out = j;
  // Readers check the form they know; a change of the form raises it.
  if (out.is_object()) out["schema_version"] = kJsonSchemaVersion;
  const std::string text = out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
  std::printf("%s\n", text.c_str());
  std::fflush(stdout);
}

void PrintJsonError(const std::string& message, int exit_status) {
  if (g_json_printed) return;
  PrintJson({{"error", {{"message", LocalJsonText(message)}, {"exit_status", exit_status}}}});
}

}  // namespace lyrctl
