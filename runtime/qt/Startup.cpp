#include "Startup.h"

#include "CommandLine.h"
#include "ErrorPath.h"
#include "SecureMode.h"
#include "Version.h"

#include <cstdlib>

namespace runtime {
namespace {

bool isSet(const char *variable)
{
    const char *value = std::getenv(variable);
    return value && *value;
}

// Without a screen the toolkit would abort; say what to do instead.
void requireDisplay()
{
    if (isSet("DISPLAY") || isSet("WAYLAND_DISPLAY") || isSet("QT_QPA_PLATFORM"))
        return;
    throw RuntimeError(ErrorNumber::NoDisplay,
                       "no graphical session (neither DISPLAY nor WAYLAND_DISPLAY is set), and "
                       "portpanel's window needs one; on a headless machine run it under "
                       "xvfb-run, as in 'xvfb-run -a portpanel'");
}

} // namespace

std::optional<int> beforeToolkit(int argc, char **argv)
{
    try {
        refusePrivilege();
        if (const auto status = handleArguments(argc, argv))
            return status;
        requireDisplay();
    } catch (const RuntimeError &error) {
        reportAndEnd(error);
        return error.number();
    }
    return std::nullopt;
}

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
