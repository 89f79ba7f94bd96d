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
// A real number from least to most; expected says so in words.
double realNumber(std::string_view text, double least, double most, const char *expected);

enum class TimeUnit { Microseconds, Milliseconds, Seconds };
// A time, "100us", "5ms", "2s" (or "µs"), or a bare number in the unit bare;
// from least to most in that unit, and returned in it.
double timeNumber(std::string_view text, TimeUnit bare, double least, double most,
                  const char *expected);

} // namespace cli
