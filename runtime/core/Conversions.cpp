#include "Conversions.h"

#include "RuntimeError.h"

#include <charconv>
#include <cstdio>
#include <optional>

namespace runtime {
namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view trimmed(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

RuntimeError notANumber(std::string_view text, const char *expected)
{
    return {ErrorNumber::NotANumber, quoted(text) + " is not " + expected};
}

// Digits of the given base only; nullopt on any other character, an empty
// text, or a value above limit.
std::optional<std::uint32_t> digitsValue(std::string_view digits, int base, std::uint32_t limit)
{
    std::uint32_t value = 0;
    const char *const first = digits.data();
    const char *const end = first + digits.size();
    const auto [ptr, ec] = std::from_chars(first, end, value, base);
    if (digits.empty() || ptr != end || ec != std::errc{} || value > limit)
        return std::nullopt;
    return value;
}

std::optional<std::string_view> hexDigits(std::string_view text)
{
    if (text.size() < 2)
        return std::nullopt;
    const char a = text[0];
    const char b = static_cast<char>(text[1] | 0x20);
    if ((a == '0' && b == 'x') || (a == '&' && b == 'h'))
        return text.substr(2);
    return std::nullopt;
}

std::string hexSuggestion(std::string_view digits)
{
    const auto value = digitsValue(digits, 10, 0xFFFF);
    if (!value)
        return "";
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%X", *value);
    return std::string("; for a port above 32767 type it in hex, as ") + hex;
}

} // namespace

std::int16_t textToInteger(std::string_view text)
{
    constexpr auto expected =
        "a whole number (type decimal digits such as 888, or hex such as 0x378)";
    const auto body = trimmed(text);
    if (const auto hex = hexDigits(body)) {
        const auto value = digitsValue(*hex, 16, 0xFFFF);
        if (!value)
            throw notANumber(text, "a hex number from 0x0 to 0xFFFF");
        return static_cast<std::int16_t>(static_cast<std::uint16_t>(*value));
    }
    const bool negative = !body.empty() && body[0] == '-';
    const auto digits =
        (!body.empty() && (body[0] == '-' || body[0] == '+')) ? body.substr(1) : body;
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos)
        throw notANumber(text, expected);
    const auto value = digitsValue(digits, 10, negative ? 32768 : 32767);
    if (!value)
        throw RuntimeError(ErrorNumber::OutOfRange, quoted(text) + " is outside -32768..32767" +
                                                        (negative ? "" : hexSuggestion(digits)));
    return static_cast<std::int16_t>(negative ? -static_cast<std::int32_t>(*value)
                                              : static_cast<std::int32_t>(*value));
}

double textToReal(std::string_view text)
{
    const auto body = trimmed(text);
    std::size_t i = (!body.empty() && (body[0] == '-' || body[0] == '+')) ? 1 : 0;
    const auto start = i;
    std::size_t mantissaDigits = 0;
    for (; i < body.size() && isDigit(body[i]); ++i)
        ++mantissaDigits;
    if (i < body.size() && body[i] == '.')
        for (++i; i < body.size() && isDigit(body[i]); ++i)
            ++mantissaDigits;
    if (mantissaDigits > 0 && i < body.size() && (body[i] | 0x20) == 'e') {
        std::size_t j = i + 1;
        if (j < body.size() && (body[j] == '-' || body[j] == '+'))
            ++j;
        const auto expStart = j;
        while (j < body.size() && isDigit(body[j]))
            ++j;
        if (j > expStart)
            i = j;
    }
    if (mantissaDigits == 0 || i != body.size())
        throw notANumber(text, "a number (type digits such as 200 or 2.5)");
    double value = 0;
    const auto [ptr, ec] = std::from_chars(body.data() + start, body.data() + i, value);
    if (ec != std::errc{} || ptr != body.data() + i)
        throw RuntimeError(ErrorNumber::OutOfRange,
                           quoted(text) + " is beyond the range of a real number");
    return body[0] == '-' ? -value : value;
}

std::string integerToText(std::int16_t value) { return std::to_string(value); }

} // namespace runtime
