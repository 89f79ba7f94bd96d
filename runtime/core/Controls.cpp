#include "Controls.h"

#include <algorithm>

namespace runtime {

Control *Form::find(const char *name) const
{
    const auto found =
        std::find_if(controls_.begin(), controls_.end(),
                     [name](const auto &control) { return control->name() == name; });
    return found == controls_.end() ? nullptr : found->get();
}

} // namespace runtime
