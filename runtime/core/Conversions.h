#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace runtime {

// Decimal -32768..32767 with optional sign, or hex 0x/&H up to FFFF read as a
// 16-bit pattern (0xE010 is -8176). Spaces and tabs around are ignored.
// Throws RuntimeError naming the text.
std::int16_t textToInteger(std::string_view text);

// Decimal with optional sign, fraction and exponent; '.' whatever the locale.
double textToReal(std::string_view text);

std::string integerToText(std::int16_t value);

} // namespace runtime
