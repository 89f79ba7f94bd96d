#pragma once

#include "Controls.h"

namespace panel {

// The port panel: an address, a value to write, a Commit button and the
// status line of the last read.
class Form1 : public runtime::Form {
  public:
    Form1();

    void Form_Load() override;
    void Command1_Click();

    runtime::TextBox *txtPortAddress;
    runtime::MaskEdBox *valOUT;
    runtime::Label *Label1;
    runtime::CommandButton *Command1;
};

} // namespace panel
