#include "Controls.h"

#include <algorithm>
#include <utility>

namespace runtime {

void Connector::setPins(const DrawnPins &pins)
{
    if (pins == pins_)
        return;
    const DrawnPins before = std::exchange(pins_, pins);
    redraw(before);
}

Control *Form::find(const char *name) const
{
    const auto found = std::ranges::find_if(
        controls_, [name](const auto &control) { return control->name() == name; });
    return found == controls_.end() ? nullptr : found->get();
}

} // namespace runtime
