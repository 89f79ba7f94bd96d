#include "ControlText.h"

#include "RuntimeError.h"

namespace runtime {
namespace {

template <class Type> Type *present(Type *control)
{
    if (!control)
        throw RuntimeError(ErrorNumber::ControlFailed, "a control of the window is gone");
    return control;
}

} // namespace

std::string textOf(const Control *control) { return present(control)->text(); }

void setText(MaskEdBox *control, const std::string &text)
{
    if (!present(control)->setText(text))
        throw RuntimeError(ErrorNumber::ControlFailed, control->name() + " refused the text " +
                                                           quoted(text) +
                                                           ": it holds exactly three digits");
}

void setCaption(Label *control, const std::string &caption)
{
    if (!present(control)->setText(caption))
        throw RuntimeError(ErrorNumber::ControlFailed,
                           control->name() + " refused the caption " + quoted(caption));
}

} // namespace runtime
