#include "recordings/device_text.h"

#include <cstdio>

#include "platform/last_error.h"

namespace lyr {

std::string Latin1ToUtf8(std::string_view latin1) {
  std::string out;
  out.reserve(latin1.size() + latin1.size() / 4);
  for (const char ch : latin1) {
    const auto c = static_cast<uint8_t>(ch);
    if (c < 0x80) {
      out += ch;
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

Result<std::string> Utf8ToLatin1(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    const auto lead = static_cast<uint8_t>(utf8[i]);
    if (lead < 0x80) {
      out += static_cast<char>(lead);
      ++i;
      continue;
    }
    // The length of the sequence and its first bits; overlong forms and
    // surrogates are not UTF-8.
    const size_t length = lead >= 0xF0 && lead <= 0xF4  ? 4
                          : lead >= 0xE0                ? 3
                          : lead >= 0xC2 && lead < 0xE0 ? 2
                                                        : 0;
    if (length == 0 || lead > 0xF4 || i + length > utf8.size())
      return Error::Code(kErrorInvalidParameter, "\"" + std::string(utf8) + "\" is not UTF-8 text");
    uint32_t code = lead & (0xFF >> (length + 1));
    for (size_t k = 1; k < length; ++k) {
      const auto next = static_cast<uint8_t>(utf8[i + k]);
      if ((next & 0xC0) != 0x80)
        return Error::Code(kErrorInvalidParameter, "\"" + std::string(utf8) + "\" is not UTF-8 text");
      code = (code << 6) | (next & 0x3F);
    }
    const uint32_t least = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
      return Error::Code(kErrorInvalidParameter, "\"" + std::string(utf8) + "\" is not UTF-8 text");
    if (code > 0xFF) {
      char number[16];
      std::snprintf(number, sizeof number, "U+%04X", code);
      return Error::Code(kErrorInvalidParameter, "\"" + std::string(utf8.substr(i, length)) + "\" (" +
                                                     number +
                                                     ") is not a character the recorder can store: it takes "
                                                     "Latin-1 (ISO 8859-1) characters only");
    }
    out += static_cast<char>(code);
    i += length;
  }
  return out;
}

}  // namespace lyr
