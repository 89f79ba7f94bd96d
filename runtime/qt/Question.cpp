// A yes-or-no question in a box, on Qt.
#include "Question.h"

#include <QApplication>
#include <QMessageBox>

namespace runtime::toolkit {

bool askYesNo(const std::string &question)
{
    // Offscreen nobody could answer, and a headless run would hang.
    if (!qApp || QGuiApplication::platformName() == QLatin1String("offscreen"))
        return false;
    return QMessageBox::question(QApplication::activeWindow(), QApplication::applicationName(),
                                 QString::fromStdString(question),
                                 QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

} // namespace runtime::toolkit
