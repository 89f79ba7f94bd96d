// libFuzzer target for the two text conversions. Any input may fail, but
// never crash, and what succeeds must be consistent.
#include "Conversions.h"
#include "RuntimeError.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

namespace {

void require(bool property, const char *what)
{
    if (!property) {
        std::fprintf(stderr, "property broken: %s\n", what);
        std::abort();
    }
}

template <class Convert> auto attempt(Convert convert, const std::string &text)
{
    using Result = decltype(convert(text));
    try {
        return std::optional<Result>(convert(text));
    } catch (const runtime::RuntimeError &error) {
        require(error.number() == 1 || error.number() == 2, "fails with number 1 or 2");
        require(error.description().find(runtime::quoted(text)) != std::string::npos,
                "the message quotes the text");
        return std::optional<Result>();
    }
}

bool plainDigits(const std::string &text)
{
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char *>(data), size);
    const auto integer = attempt(runtime::textToInteger, text);
    const auto real = attempt(runtime::textToReal, text);

    if (integer) {
        const auto back = attempt(runtime::textToInteger, runtime::integerToText(*integer));
        require(back && *back == *integer, "an integer formats back to the same number");
    }
    if (plainDigits(text)) {
        const auto digits = text.substr(std::min(text.find_first_not_of('0'), text.size() - 1));
        const bool fits = digits.size() < 6 && std::stoi(digits) <= 32767;
        require(integer.has_value() == fits, "plain digits convert exactly when they fit");
        require(!fits || *integer == std::stoi(digits), "plain digits convert to their value");
        const double expected = std::strtod(text.c_str(), nullptr);
        require(std::isfinite(expected) ? real && *real == expected : !real,
                "plain digits are a real number too, while a double holds them");
    }
    if (integer && real)
        require(*real == *integer, "a decimal integer reads the same as a real");
    return 0;
}
