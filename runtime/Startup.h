#pragma once

#include "EventDelivery.h"

#include <QApplication>
#include <QWidget>
#include <memory>
#include <optional>

namespace runtime {

// A start-up window: the runtime runs its load event before showing it.
class Form : public QWidget {
    Q_OBJECT
  public:
    using QWidget::QWidget;
    virtual void Form_Load() = 0;
};

// Runs the load event, then shows the form and delivers events until it
// closes. An error before that ends the program before anything is shown.
int open(Form *form, QApplication &application);

// Names the program and starts a fresh run.
void describeProgram(QApplication &application);

// What happens before the toolkit loads: the privilege refusal, --help and
// --version, and the check for a screen. The exit status when the run ends
// there, else nothing.
std::optional<int> beforeToolkit(int argc, char **argv);

// The program: one start-up window, one thread. The toolkit gets no
// arguments but the program's name, so none of its own options are read.
template <class StartupForm> int start(int argc, char **argv)
{
    if (const auto status = beforeToolkit(argc, argv))
        return *status;
    static char name[] = "portpanel";
    int toolkitArgc = 1;
    char *toolkitArgv[] = {argc > 0 ? argv[0] : name, nullptr};
    QApplication application(toolkitArgc, toolkitArgv);
    describeProgram(application);
    std::unique_ptr<StartupForm> form;
    deliver([&form] { form = std::make_unique<StartupForm>(); });
    return open(form.get(), application);
}

} // namespace runtime
