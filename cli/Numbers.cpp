#include "Numbers.h"

#include "Conversions.h"
#include "RuntimeError.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <optional>
#include <utility>

namespace cli {
namespace {

using runtime::ErrorNumber;
using runtime::RuntimeError;

std::optional<int> wholeNumber(std::string_view text)
{
    try {
        return runtime::textToInteger(text);
    } catch (const RuntimeError &) {
        return std::nullopt;
    }
}

int inRange(std::string_view text, int least, int most, const std::string &expected)
{
    const auto value = wholeNumber(text);
    if (!value || *value < least || *value > most)
        throw RuntimeError(value ? ErrorNumber::OutOfRange : ErrorNumber::NotANumber,
                           runtime::quoted(text) + " is not " + expected);
    return *value;
}

} // namespace

std::uint16_t portNumber(std::string_view text)
{
    return static_cast<std::uint16_t>(runtime::textToInteger(text));
}

std::uint8_t byteValue(std::string_view text)
{
    return static_cast<std::uint8_t>(
        inRange(text, 0, 255,
                "a byte: type 0 to 255 or 0x00 to 0xFF (a value outside is refused, not cut "
                "to fit)"));
}

unsigned bitNumber(std::string_view text)
{
    return static_cast<unsigned>(
        inRange(text, 0, 7, "a bit number: type 0 to 7 (0 is D0, the lowest bit)"));
}

int pinNumber(std::string_view text)
{
    return inRange(text, 0, 17, "a pin: type 1 to 17, or 0 to 7 for a bit of another port");
}

int countNumber(std::string_view text)
{
    return inRange(text, 1, 32767, "a count: type a whole number from 1 to 32767");
}

namespace {

// The number in text's first length characters, times scale, from least to most.
double scaledNumber(std::string_view text, std::size_t length, double scale, double least,
                    double most, const char *expected)
{
    double value = 0;
    try {
        value = runtime::textToReal(text.substr(0, length)) * scale;
    } catch (const RuntimeError &) {
        throw RuntimeError(ErrorNumber::NotANumber, runtime::quoted(text) + " is not " + expected);
    }
    if (!std::isfinite(value) || value < least || value > most)
        throw RuntimeError(ErrorNumber::OutOfRange, runtime::quoted(text) + " is not " + expected);
    return value;
}

} // namespace

double realNumber(std::string_view text, double least, double most, const char *expected)
{
    return scaledNumber(text, text.size(), 1, least, most, expected);
}

double timeNumber(std::string_view text, TimeUnit bare, double least, double most,
                  const char *expected)
{
    // Each unit's size in microseconds; "us" is tried before "s".
    constexpr std::pair<std::string_view, double> units[] = {
        {"us", 1}, {"\xC2\xB5s", 1}, {"ms", 1e3}, {"s", 1e6}};
    constexpr double bareSizes[] = {1, 1e3, 1e6};
    const auto unit =
        std::ranges::find_if(units, [&](const auto &u) { return text.ends_with(u.first); });
    if (unit == std::end(units))
        return realNumber(text, least, most, expected);
    return scaledNumber(text, text.size() - unit->first.size(),
                        unit->second / bareSizes[static_cast<int>(bare)], least, most, expected);
}

} // namespace cli
