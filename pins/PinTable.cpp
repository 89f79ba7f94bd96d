#include "PinTable.h"

#include <bitset>
#include <cstdio>

namespace pins {
namespace {

const char *levelWord(std::optional<bool> level)
{
    if (!level)
        return "not read";
    return *level ? "high" : "low";
}

const char *registerName(Register reg)
{
    switch (reg) {
    case Register::Data:
        return "Data";
    case Register::Status:
        return "Status";
    case Register::Control:
        return "Control";
    }
    return "?";
}

} // namespace

std::string accessibleName(const Pin &pin, std::optional<bool> level)
{
    return "Pin " + std::to_string(pin.number) + ", " + pin.name + ", " + levelWord(level);
}

std::string caption(const Pin &pin, bool input, std::optional<bool> level)
{
    const char letter = registerName(pin.reg)[0];
    std::string text = std::to_string(pin.number) + "  " + pin.name + "  (" + letter +
                       std::to_string(pin.bit) + (pin.inverted ? ", inverted" : "") + ")";
    return text + (input ? "  in: " : "  out: ") + levelWord(level);
}

std::string registerBit(const Pin &pin)
{
    return registerName(pin.reg)[0] + std::to_string(pin.bit) + (pin.inverted ? " inv" : "");
}

std::string registerLine(Register reg, int address, std::optional<std::uint8_t> value)
{
    char head[48];
    std::snprintf(head, sizeof head, "%s 0x%04X: ", registerName(reg),
                  static_cast<unsigned>(address & 0xFFFF));
    if (!value)
        return std::string(head) + "not read";
    char text[48];
    std::snprintf(text, sizeof text, "0x%02X = %u = ", *value, static_cast<unsigned>(*value));
    return std::string(head) + text + std::bitset<8>(*value).to_string();
}

} // namespace pins
