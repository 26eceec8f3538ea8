#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace lyr {

// The recorder's texts (recording names, free text, the recorder text, the
// file name prefix) are single bytes in its 8-bit character set, Latin-1
// (ISO 8859-1): every byte is the code point of the same value.
std::string Latin1ToUtf8(std::string_view latin1);

// C0 controls, DEL and the C1 controls of Latin-1.
inline bool IsLatin1Control(uint8_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

}  // namespace lyr
