// The pins of the simulated parallel port, with what the environment fits:
//   PORTPANEL_SIMULATED_PLUG    loopback (1-13,2-15,10-16,11-17,12-14),
//                               data-lines (2-15,3-13,4-12,5-10,6-11), or pairs
//   PORTPANEL_SIMULATED_FAULTS  a list of high:PIN and low:PIN (a stuck line),
//                               open:PIN (its plug wire cut), short:PIN-PIN (two
//                               lines touching: the low one wins) and
//                               readback:PIN (a data bit that reads low)
//   PORTPANEL_SIMULATED_DELAY_MS  each access takes so long, as a slow route would
// Inputs with nothing driving them float high, as on most ports.
#include "Plug.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace simulated {
namespace {

constexpr std::uint16_t dataPort = 0x378, statusPort = 0x379, controlPort = 0x37A;
constexpr std::uint8_t emptyBus = 0xFF;

// Pin (1 to 17) to register bit, and whether the port inverts it.
struct Line {
    int reg; // 0 data, 1 status, 2 control
    int bit;
    bool inverted;
};
constexpr std::array<Line, 18> lines{{{-1, 0, false},
                                      {2, 0, true},
                                      {0, 0, false},
                                      {0, 1, false},
                                      {0, 2, false},
                                      {0, 3, false},
                                      {0, 4, false},
                                      {0, 5, false},
                                      {0, 6, false},
                                      {0, 7, false},
                                      {1, 6, false},
                                      {1, 7, true},
                                      {1, 5, false},
                                      {1, 4, false},
                                      {2, 1, true},
                                      {1, 3, false},
                                      {2, 2, false},
                                      {2, 3, true}}};

using Levels = std::array<bool, 18>;
using Pairs = std::vector<std::pair<int, int>>;

struct Fitted {
    Pairs plug, shorts;
    std::array<int, 18> stuck{}; // 0 none, 1 high, -1 low
    std::array<bool, 18> open{}, noReadBack{};
    long delayMs = 0;
};

Pairs pairsOf(const char *text)
{
    Pairs pairs;
    for (int a = 0, b = 0, used = 0; std::sscanf(text, "%d-%d%n", &a, &b, &used) == 2;) {
        if (a >= 1 && a <= 17 && b >= 1 && b <= 17)
            pairs.emplace_back(a, b);
        text += used;
        if (*text++ != ',')
            break;
    }
    return pairs;
}

Pairs plugOf(const char *name)
{
    if (!name)
        return {};
    if (std::strcmp(name, "loopback") == 0)
        return pairsOf("1-13,2-15,10-16,11-17,12-14");
    if (std::strcmp(name, "data-lines") == 0)
        return pairsOf("2-15,3-13,4-12,5-10,6-11");
    return pairsOf(name);
}

void addFault(Fitted &fitted, const std::string &fault)
{
    char kind[16] = {};
    int pin = 0, other = 0;
    if (std::sscanf(fault.c_str(), "short:%d-%d", &pin, &other) == 2)
        fitted.shorts.emplace_back(pin, other);
    else if (std::sscanf(fault.c_str(), "%15[a-z]:%d", kind, &pin) != 2 || pin < 1 || pin > 17)
        std::fprintf(stderr, "simulated port: fault \"%s\" not understood\n", fault.c_str());
    else if (std::strcmp(kind, "high") == 0 || std::strcmp(kind, "low") == 0)
        fitted.stuck.at(static_cast<std::size_t>(pin)) = kind[0] == 'h' ? 1 : -1;
    else if (std::strcmp(kind, "open") == 0)
        fitted.open.at(static_cast<std::size_t>(pin)) = true;
    else if (std::strcmp(kind, "readback") == 0)
        fitted.noReadBack.at(static_cast<std::size_t>(pin)) = true;
}

const Fitted &fitted()
{
    static const Fitted fitted = [] {
        Fitted made;
        made.plug = plugOf(std::getenv("PORTPANEL_SIMULATED_PLUG"));
        std::string faults = std::getenv("PORTPANEL_SIMULATED_FAULTS")
                                 ? std::getenv("PORTPANEL_SIMULATED_FAULTS")
                                 : "";
        for (std::size_t start = 0; start < faults.size();) {
            const std::size_t comma = std::min(faults.find(',', start), faults.size());
            addFault(made, faults.substr(start, comma - start));
            start = comma + 1;
        }
        if (const char *delay = std::getenv("PORTPANEL_SIMULATED_DELAY_MS"))
            made.delayMs = std::strtol(delay, nullptr, 10);
        return made;
    }();
    return fitted;
}

// A port with nothing attached: control as after reset.
std::uint8_t data = 0x00;
std::uint8_t control = 0x0C;

bool isOutput(int pin) { return lines.at(static_cast<std::size_t>(pin)).reg != 1; }

void applyFaults(Levels &levels)
{
    for (int pin = 1; pin <= 17; ++pin)
        if (const int stuck = fitted().stuck.at(static_cast<std::size_t>(pin)))
            levels.at(static_cast<std::size_t>(pin)) = stuck > 0;
    for (const auto &[a, b] : fitted().shorts) {
        const bool both =
            levels.at(static_cast<std::size_t>(a)) && levels.at(static_cast<std::size_t>(b));
        levels.at(static_cast<std::size_t>(a)) = levels.at(static_cast<std::size_t>(b)) = both;
    }
}

// The level on each pin: outputs from the registers (data lines float high
// as inputs), then the plug carries each output to its input.
Levels levels()
{
    Levels levels{};
    const bool reverse = (control & 0x20) != 0;
    for (int pin = 1; pin <= 17; ++pin) {
        const Line &line = lines.at(static_cast<std::size_t>(pin));
        const std::uint8_t value = line.reg == 0 ? data : control;
        levels.at(static_cast<std::size_t>(pin)) = line.reg == 1 || (line.reg == 0 && reverse) ||
                                                   (((value >> line.bit) & 1) != line.inverted);
    }
    applyFaults(levels);
    for (const auto &[a, b] : fitted().plug) {
        const int from = isOutput(a) ? a : b, to = isOutput(a) ? b : a;
        if (!fitted().open.at(static_cast<std::size_t>(from)) &&
            !fitted().open.at(static_cast<std::size_t>(to)))
            levels.at(static_cast<std::size_t>(to)) = levels.at(static_cast<std::size_t>(from));
    }
    applyFaults(levels);
    return levels;
}

// A register's bits from the pins' levels; others from base.
std::uint8_t registerOf(int reg, std::uint8_t base)
{
    const Levels now = levels();
    for (int pin = 1; pin <= 17; ++pin) {
        const Line &line = lines.at(static_cast<std::size_t>(pin));
        if (line.reg != reg)
            continue;
        const bool bit = now.at(static_cast<std::size_t>(pin)) != line.inverted &&
                         !fitted().noReadBack.at(static_cast<std::size_t>(pin));
        base = static_cast<std::uint8_t>(bit ? base | 1u << line.bit : base & ~(1u << line.bit));
    }
    return base;
}

void slowly()
{
    if (fitted().delayMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(fitted().delayMs));
}

} // namespace

void write(std::uint16_t port, std::uint8_t value)
{
    slowly();
    if (port == dataPort)
        data = value;
    else if (port == controlPort)
        control = value;
}

std::uint8_t read(std::uint16_t port)
{
    slowly();
    switch (port) {
    case dataPort:
        return registerOf(0, 0);
    case statusPort:
        return registerOf(1, 0);
    case controlPort:
        return registerOf(2, control);
    default:
        return emptyBus;
    }
}

} // namespace simulated
