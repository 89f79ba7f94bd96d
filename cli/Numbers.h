#pragma once

#include <cstdint>
#include <string_view>

// The numbers a person types, each read by the window's conversions and then
// held to its own range: refused outside it, never clamped. Each throws
// runtime::RuntimeError naming the text.
namespace cli {

// As the window's address field reads it: 888, 0x378, &H378, -8176.
std::uint16_t portNumber(std::string_view text);
// 0..255 or 0x00..0xFF.
std::uint8_t byteValue(std::string_view text);
// 0..7.
unsigned bitNumber(std::string_view text);
// A parallel port's pin, 1 to 17, or another port's bit, 0 to 7.
int pinNumber(std::string_view text);
// A whole number from 1 to 32767.
int countNumber(std::string_view text);
// A real number from least to most, for times; expected says so in words.
double timeNumber(std::string_view text, double least, double most, const char *expected);

} // namespace cli
