#pragma once

#include "Controls.h"

#include <string>

namespace runtime {

// Control texts as the handlers see them: UTF-8, read afresh at every use.
// A control that is gone or refuses a text raises RuntimeError (6).
std::string textOf(const Control *control);
void setText(MaskEdBox *control, const std::string &text);
void setCaption(Label *control, const std::string &caption);

} // namespace runtime
