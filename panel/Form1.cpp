#include "Form1.h"

#include "ControlText.h"
#include "Conversions.h"
#include "MaskEdBox.h"
#include "PortIO.h"
#include "StatusLine.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace panel {
namespace {

template <class Control>
Control *place(Control *control, const char *name, int left, int top, int width, int height)
{
    control->setObjectName(QLatin1String(name));
    control->setGeometry(left, top, width, height);
    return control;
}

} // namespace

using runtime::textOf;
using runtime::textToInteger;

// Logical pixels; the layout was drawn in twips, 15 to a pixel at 96 dpi.
Form1::Form1(QWidget *parent)
    : runtime::Form(parent), txtPortAddress(place(new QLineEdit(QStringLiteral("888"), this),
                                                  "txtPortAddress", 16, 64, 81, 25)),
      valOUT(place(new runtime::MaskEdBox(this), "valOUT", 112, 64, 97, 25)),
      Label1(place(new QLabel(QStringLiteral("Label1"), this), "Label1", 16, 24, 193, 17)),
      Command1(place(new QPushButton(QStringLiteral("Commit"), this), "Command1", 128, 104, 81, 25))
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Form1"));
    setFixedSize(402, 155);
    setTabOrder(txtPortAddress, Command1);
    setTabOrder(Command1, valOUT);
    Command1->setAutoDefault(false);
    txtPortAddress->setFocus();
    runtime::onClick(Command1, this, &Form1::Command1_Click);
}

void Form1::Form_Load()
{
    portio::Out32(textToInteger(textOf(txtPortAddress)), 0);
    const std::int16_t valueRead = portio::Inp32(textToInteger(textOf(txtPortAddress)));
    runtime::setCaption(Label1, statusLine(textOf(txtPortAddress), valueRead));
}

void Form1::Command1_Click()
{
    if (runtime::textToReal(textOf(valOUT)) > 255)
        runtime::setText(valOUT, runtime::integerToText(255));
    const std::string addressText = textOf(txtPortAddress);
    const std::string valueText = textOf(valOUT);
    const std::int16_t value = textToInteger(valueText);
    portio::Out32(textToInteger(addressText), value);
    const std::int16_t valueRead = portio::Inp32(textToInteger(textOf(txtPortAddress)));
    runtime::setCaption(Label1, statusLine(textOf(txtPortAddress), valueRead));
}

} // namespace panel
