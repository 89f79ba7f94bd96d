#pragma once

#include "ParallelPins.h"

#include <optional>
#include <string>

// What the window shows of each pin of the one table in ParallelPins.h.
namespace pins {

// Pins 18 to 25 are ground.
inline constexpr const char *groundPins = "Pins 18-25: ground";

// Control bit 5 turns tri-state data lines into inputs.
inline constexpr int directionBit = 5;

[[nodiscard]] inline bool isOutput(const Pin &pin) { return pin.reg != Register::Status; }

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
