#pragma once

#include "Startup.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace runtime {
class MaskEdBox;
}

namespace panel {

// The port panel: an address, a value to write, a Commit button and the
// status line of the last read.
class Form1 : public runtime::Form {
    Q_OBJECT
  public:
    explicit Form1(QWidget *parent = nullptr);

    void Form_Load() override;
    void Command1_Click();

    QLineEdit *txtPortAddress;
    runtime::MaskEdBox *valOUT;
    QLabel *Label1;
    QPushButton *Command1;
};

} // namespace panel
