#include "ConnectorDrawing.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace runtime::drawing {
namespace {

// The drawing at its own size, in units scaled to the control.
constexpr int designWidth = 704, designHeight = 160;
constexpr int pitch = 50, contactSize = 22, line = 14, font = 11;
constexpr int shellTop = 32, shellBottom = 124, topContact = 50, bottomContact = 84;
constexpr int topHalfWidth = 338, bottomHalfWidth = 320;

// Twice the distance of a contact's centre from the middle, in pitches:
// pin 1 is the rightmost of 13 on top, pin 14 of the 12 below.
int doubledOffset(int number) { return number <= 13 ? 2 * (7 - number) : 2 * (14 - number) + 11; }

} // namespace

Layout layOut(int width, int height)
{
    const double scale = std::min(static_cast<double>(width) / designWidth,
                                  static_cast<double>(height) / designHeight);
    const int middle = width / 2;
    const int top = (height - static_cast<int>(designHeight * scale)) / 2;
    const auto at = [scale](int units) { return static_cast<int>(std::lround(units * scale)); };
    const auto box = [&](int centre, int y, int w, int h) {
        return Box{centre - at(w) / 2, top + at(y), at(w), at(h)};
    };
    Layout layout{};
    layout.shell = {{{middle - at(topHalfWidth), top + at(shellTop)},
                     {middle + at(topHalfWidth), top + at(shellTop)},
                     {middle + at(bottomHalfWidth), top + at(shellBottom)},
                     {middle - at(bottomHalfWidth), top + at(shellBottom)}}};
    layout.fontPixels = std::max(1, at(font));
    for (int number = 1; number <= 25; ++number) {
        const int centre = middle + at(doubledOffset(number) * pitch) / 2;
        Contact &c = layout.contacts.at(static_cast<std::size_t>(number - 1));
        if (number <= 13) {
            c.name = box(centre, 0, pitch, line);
            c.detail = box(centre, line, pitch, line);
            c.number = box(centre, topContact - line, pitch, line);
            c.contact = box(centre, topContact, contactSize, contactSize);
        } else {
            c.contact = box(centre, bottomContact, contactSize, contactSize);
            c.number = box(centre, bottomContact + contactSize, pitch, line);
            c.detail = box(centre, designHeight - 2 * line, pitch, line);
            c.name = box(centre, designHeight - line, pitch, line);
        }
    }
    return layout;
}

int pinAt(const Layout &layout, int x, int y)
{
    for (std::size_t i = 0; i < layout.contacts.size(); ++i) {
        const Contact &c = layout.contacts[i]; // its labels too: a contact is a small target
        const std::array parts{c.contact, c.number, c.detail, c.name};
        if (std::ranges::any_of(parts, [x, y](const Box &part) { return part.contains(x, y); }))
            return static_cast<int>(i) + 1;
    }
    return 0;
}

const char *levelText(const DrawnPin &pin)
{
    if (pin.role == DrawnPin::Role::Ground)
        return "";
    if (!pin.level)
        return "?";
    return *pin.level ? "H" : "L";
}

Colour fill(const DrawnPin &pin)
{
    if (pin.role == DrawnPin::Role::Ground)
        return {150, 150, 150};
    if (!pin.level)
        return {255, 255, 255};
    return *pin.level ? Colour{214, 40, 40} : Colour{30, 60, 110};
}

Colour ink(const DrawnPin &pin) { return pin.level ? Colour{255, 255, 255} : Colour{0, 0, 0}; }

Colour rim(const DrawnPin &pin) { return pin.fault.empty() ? outline : faultInk; }

int rimWidth(const DrawnPin &pin, const Box &contact)
{
    return pin.fault.empty() ? 1 : std::max(3, contact.width / 4);
}

Colour nameInk(const DrawnPin &pin) { return pin.fault.empty() ? labelInk : faultInk; }

} // namespace runtime::drawing
