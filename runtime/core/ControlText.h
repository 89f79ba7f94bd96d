#pragma once

#include <string>

class QLabel;
class QLineEdit;

namespace runtime {

class MaskEdBox;

// Control texts as the handlers see them: UTF-8, read afresh at every use.
std::string textOf(const QLineEdit *control);
void setText(MaskEdBox *control, const std::string &text);
void setCaption(QLabel *control, const std::string &caption);

} // namespace runtime
