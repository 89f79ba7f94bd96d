#pragma once

#include <array>
#include <cstdint>

// The 17 signal pins of a parallel port's DB-25 connector and the register
// bit behind each: the one table the pins window, the capture and their tests read.
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

// The electrical level a meter reads, from the register's value.
[[nodiscard]] inline bool level(const Pin &pin, std::uint8_t registerValue)
{
    return (((registerValue >> pin.bit) & 1) != 0) != pin.inverted;
}

} // namespace pins
