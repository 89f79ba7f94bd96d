#include "ControlText.h"

#include "MaskEdBox.h"
#include "RuntimeError.h"

#include <QLabel>

namespace runtime {
namespace {

template <class Control> Control *present(Control *control)
{
    if (!control)
        throw RuntimeError(ErrorNumber::ControlFailed, "a control of the window is gone");
    return control;
}

std::string nameOf(const QObject *control) { return control->objectName().toStdString(); }

} // namespace

std::string textOf(const QLineEdit *control) { return present(control)->text().toStdString(); }

void setText(MaskEdBox *control, const std::string &text)
{
    if (!present(control)->setMaskText(QString::fromStdString(text)))
        throw RuntimeError(ErrorNumber::ControlFailed, nameOf(control) + " refused the text " +
                                                           quoted(text) +
                                                           ": it holds exactly three digits");
}

void setCaption(QLabel *control, const std::string &caption)
{
    present(control)->setText(QString::fromStdString(caption));
}

} // namespace runtime
