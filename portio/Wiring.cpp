// A loopback plug's wiring: the common one, or a list of pairs as typed.
#include "ParallelPins.h"
#include "RuntimeError.h"
#include "SelfTest.h"

#include <algorithm>
#include <charconv>

namespace selftest {
namespace {

bool isInput(int pin)
{
    return pin >= 1 && pin <= 17 &&
           pins::table.at(static_cast<std::size_t>(pin - 1)).reg == pins::Register::Status;
}

[[noreturn]] void badList(std::string_view text, const std::string &why)
{
    throw runtime::RuntimeError(runtime::ErrorNumber::NotANumber,
                                runtime::quoted(text) + " is not a wiring: " + why +
                                    "; type pairs such as 2-15,3-13 (an output 1-9, 14, 16 "
                                    "or 17 with an input 10-13 or 15)");
}

int pinOf(std::string_view text, std::string_view whole)
{
    int pin = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), pin);
    if (error != std::errc() || end != text.data() + text.size() || pin < 1 || pin > 17)
        badList(whole, runtime::quoted(text) + " is not a signal pin (1 to 17)");
    return pin;
}

} // namespace

std::string Wiring::text() const
{
    std::string text;
    for (const auto &[output, input] : pairs) // the lower pin first, as plugs are described
        text.append(text.empty() ? "" : ",")
            .append(std::to_string(std::min(output, input)))
            .append("-")
            .append(std::to_string(std::max(output, input)));
    return text;
}

int Wiring::partnerOf(int pin) const
{
    for (const auto &[output, input] : pairs)
        if (output == pin || input == pin)
            return output == pin ? input : output;
    return 0;
}

Wiring commonPlug() { return {{{1, 13}, {2, 15}, {16, 10}, {17, 11}, {14, 12}}}; }

Wiring parseWiring(std::string_view text)
{
    Wiring wiring;
    for (std::size_t start = 0; start <= text.size();) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        const std::string_view pair = text.substr(start, comma - start);
        const std::size_t dash = pair.find('-');
        if (dash == std::string_view::npos)
            badList(text, runtime::quoted(pair) + " is not a pair such as 2-15");
        int a = pinOf(pair.substr(0, dash), text), b = pinOf(pair.substr(dash + 1), text);
        if (isInput(a) == isInput(b))
            badList(text,
                    runtime::quoted(pair) + " joins two " + (isInput(a) ? "inputs" : "outputs"));
        if (isInput(a))
            std::swap(a, b);
        if (wiring.partnerOf(a) != 0 || wiring.partnerOf(b) != 0)
            badList(text, std::string("pin ")
                              .append(std::to_string(wiring.partnerOf(a) ? a : b))
                              .append(" is wired twice"));
        wiring.pairs.emplace_back(a, b);
        start = comma + 1;
    }
    return wiring;
}

} // namespace selftest
