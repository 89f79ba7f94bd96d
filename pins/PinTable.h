#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

// The 17 signal pins of a parallel port's DB-25 connector and the register
// bit behind each: the one table the window and its tests read.
namespace pins {

// Offset of each register from the port's base.
enum class Register : std::uint8_t { Data = 0, Status = 1, Control = 2 };

struct Pin {
    int number;
    const char *name;
    const char *shortName; // beside the drawn contact
    Register reg;
    int bit;
    bool inverted; // the hardware inverts the line: a set bit is a low pin
};

inline constexpr std::array<Pin, 17> table{{
    {1, "/Strobe", "/STB", Register::Control, 0, true},
    {2, "D0", "D0", Register::Data, 0, false},
    {3, "D1", "D1", Register::Data, 1, false},
    {4, "D2", "D2", Register::Data, 2, false},
    {5, "D3", "D3", Register::Data, 3, false},
    {6, "D4", "D4", Register::Data, 4, false},
    {7, "D5", "D5", Register::Data, 5, false},
    {8, "D6", "D6", Register::Data, 6, false},
    {9, "D7", "D7", Register::Data, 7, false},
    {10, "/Ack", "/ACK", Register::Status, 6, false},
    {11, "Busy", "BUSY", Register::Status, 7, true},
    {12, "Paper-out", "PE", Register::Status, 5, false},
    {13, "Select", "SEL", Register::Status, 4, false},
    {14, "/Autofeed", "/AF", Register::Control, 1, true},
    {15, "/Error", "/ERR", Register::Status, 3, false},
    {16, "/Init", "/INIT", Register::Control, 2, false},
    {17, "/Select-in", "/SLIN", Register::Control, 3, true},
}};

// Pins 18 to 25 are ground.
inline constexpr const char *groundPins = "Pins 18-25: ground";

// Control bit 5 turns tri-state data lines into inputs.
inline constexpr int directionBit = 5;

[[nodiscard]] inline bool isOutput(const Pin &pin) { return pin.reg != Register::Status; }

// The electrical level a meter reads, from the register's value.
[[nodiscard]] bool level(const Pin &pin, std::uint8_t registerValue);

// "Pin 11, Busy, low", or "not read" where no read gave the level.
[[nodiscard]] std::string accessibleName(const Pin &pin, std::optional<bool> level);

// The visible caption: number, name, register bit, the inversion, and
// whether the pin is now an input or an output.
[[nodiscard]] std::string caption(const Pin &pin, bool input, std::optional<bool> level);

// The register bit and the inversion, "C0 inv", short enough to draw.
[[nodiscard]] std::string registerBit(const Pin &pin);

// "Status 0x379: 0x78 = 120 = 01111000", or "not read".
[[nodiscard]] std::string registerLine(Register reg, int address,
                                       std::optional<std::uint8_t> value);

} // namespace pins
