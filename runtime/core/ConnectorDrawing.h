#pragma once

#include "Controls.h"

#include <array>
#include <cstdint>

// Where each part of the drawn DB-25 socket goes in a control of a given
// size, and its colours: one drawing that every toolkit paints alike.
namespace runtime::drawing {

struct Box {
    int left, top, width, height;
    [[nodiscard]] bool contains(int x, int y) const
    {
        return x >= left && x < left + width && y >= top && y < top + height;
    }
    [[nodiscard]] int centreX() const { return left + width / 2; }
    [[nodiscard]] int centreY() const { return top + height / 2; }
};

struct Point {
    int x, y;
};

struct Colour {
    std::uint8_t red, green, blue;
};

// The name and detail sit outside the shell, the number beside the contact:
// above it on the top row, below it on the bottom row.
struct Contact {
    Box contact, number, detail, name;
};

struct Layout {
    std::array<Point, 4> shell;       // the metal's outline, clockwise from top left
    std::array<Contact, 25> contacts; // pin 1 first
    int fontPixels;
};

[[nodiscard]] Layout layOut(int width, int height);

// The pin whose contact, or a label of it, takes in the point; or 0.
[[nodiscard]] int pinAt(const Layout &layout, int x, int y);

// "H", "L", "?" where not read, nothing for ground.
[[nodiscard]] const char *levelText(const DrawnPin &pin);
[[nodiscard]] Colour fill(const DrawnPin &pin);
[[nodiscard]] Colour ink(const DrawnPin &pin); // the level text's colour
// A line the self-test found faulty: a thick ring round its contact, its name in the same colour.
[[nodiscard]] Colour rim(const DrawnPin &pin);
[[nodiscard]] int rimWidth(const DrawnPin &pin, const Box &contact);
[[nodiscard]] Colour nameInk(const DrawnPin &pin);
inline constexpr Colour faultInk{230, 110, 0};
inline constexpr Colour shellFill{214, 214, 214};
inline constexpr Colour outline{80, 80, 80};
inline constexpr Colour labelInk{0, 0, 0};

} // namespace runtime::drawing
