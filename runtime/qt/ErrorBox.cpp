// The error path's box and the end of the event loop, on Qt.
#include "ErrorPath.h"

#include <QApplication>
#include <QMessageBox>

namespace runtime::toolkit {

// Offscreen nobody could dismiss the box, and a headless run would hang.
void showErrorBox(const std::string &line)
{
    if (qApp && QGuiApplication::platformName() != QLatin1String("offscreen"))
        QMessageBox::critical(nullptr, QApplication::applicationName(),
                              QString::fromStdString(line));
}

void endEventLoop(int status) { QCoreApplication::exit(status); }

} // namespace runtime::toolkit
