#include "Form1.h"

#include "ControlText.h"
#include "Conversions.h"
#include "PortIO.h"
#include "StatusLine.h"

namespace panel {
namespace {

using runtime::Kind;

// In twips, controls in tab order; the label takes no focus. The fields carry
// the names a screen reader says for them.
const runtime::FormLayout layout{
    "Form1",
    "Form1",
    6030,
    2325,
    {
        {"txtPortAddress", Kind::TextBox, {240, 960, 1215, 375}, "888", "Port address"},
        {"Command1", Kind::CommandButton, {1920, 1560, 1215, 375}, "Commit", nullptr},
        {"valOUT", Kind::MaskEdBox, {1680, 960, 1455, 375}, "000", "Value"},
        {"Label1", Kind::Label, {240, 360, 2895, 255}, "Label1", nullptr},
    }};

} // namespace

using runtime::textOf;
using runtime::textToInteger;

Form1::Form1()
    : runtime::Form(layout), txtPortAddress(control<runtime::TextBox>("txtPortAddress")),
      valOUT(control<runtime::MaskEdBox>("valOUT")), Label1(control<runtime::Label>("Label1")),
      Command1(control<runtime::CommandButton>("Command1"))
{
    Command1->onClick([this] { Command1_Click(); });
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
