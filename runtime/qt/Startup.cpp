// Start-up on Qt: the checks before the toolkit loads, then the application,
// the form and its load event, and the event loop.
#include "Startup.h"
#include "CommandLine.h"
#include "Display.h"
#include "ErrorPath.h"
#include "EventDelivery.h"
#include "QtRuntime.h"
#include "SecureMode.h"
#include "Version.h"

namespace runtime {
namespace toolkit {

std::optional<int> beforeToolkit(int argc, char **argv)
{
    try {
        refusePrivilege(programName());
        if (const auto status = handleArguments(argc, argv))
            return status;
        requireDisplay();
    } catch (const RuntimeError &error) {
        reportAndEnd(error);
        return error.number();
    }
    return std::nullopt;
}

// The toolkit gets no arguments but the program's name, so none of its own
// options are read.
int run(const char *program, const std::function<std::unique_ptr<Form>()> &build)
{
    int argc = 1;
    char *argv[] = {const_cast<char *>(program), nullptr};
    QApplication application(argc, argv);
    qt::describeProgram(application);
    std::unique_ptr<Form> form;
    deliver([&form, &build] { form = build(); });
    return form ? qt::open(*form, application) : endingError()->number();
}

} // namespace toolkit

namespace qt {

void describeProgram(QApplication &application)
{
    application.setApplicationName(QString::fromUtf8(programName()));
    application.setApplicationVersion(QStringLiteral(PORTPANEL_VERSION));
    beginRun();
}

int open(Form &form, QApplication &application)
{
    deliver([&form] { form.Form_Load(); });
    if (const RuntimeError *error = endingError())
        return error->number();
    widget(form)->show();
    return application.exec();
}

} // namespace qt
} // namespace runtime
