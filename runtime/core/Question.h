#pragma once

#include <string>

namespace runtime::toolkit {

// Asks a yes-or-no question in a box over the window, with No ready for Enter,
// so that a hurried key replaces nothing; true when the user chooses Yes.
// Each side of the runtime defines it; where no one could answer, the answer is No.
bool askYesNo(const std::string &question);

} // namespace runtime::toolkit
