#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/result.h"

namespace lyr {

// The recorder's texts (recording names, free text, the recorder text, the
// file name prefix) are single bytes in its 8-bit character set, Latin-1
// (ISO 8859-1): every byte is the code point of the same value.
std::string Latin1ToUtf8(std::string_view latin1);

// A text the user typed (UTF-8) as the recorder stores it: one Latin-1 byte
// per character, so that limits count characters. A character Latin-1 lacks
// ("€") or bytes that are not UTF-8 fail with kErrorInvalidParameter and a
// context that names them.
Result<std::string> Utf8ToLatin1(std::string_view utf8);

// C0 controls, DEL and the C1 controls of Latin-1.
inline bool IsLatin1Control(uint8_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

}  // namespace lyr
