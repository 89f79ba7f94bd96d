#include "Startup.h"

#include "ErrorPath.h"
#include "Version.h"

namespace runtime {

void describeProgram(QApplication &application)
{
    application.setApplicationName(QStringLiteral("portpanel"));
    application.setApplicationVersion(QStringLiteral(PORTPANEL_VERSION));
    beginRun();
}

int open(Form *form, QApplication &application)
{
    if (form)
        deliver([form] { form->Form_Load(); });
    if (const RuntimeError *error = endingError())
        return error->number();
    form->show();
    return application.exec();
}

} // namespace runtime
