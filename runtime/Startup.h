#pragma once

#include "EventDelivery.h"

#include <QApplication>
#include <QWidget>
#include <memory>

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

// The program: one start-up window, one thread.
template <class StartupForm> int start(int argc, char **argv)
{
    QApplication application(argc, argv);
    describeProgram(application);
    std::unique_ptr<StartupForm> form;
    deliver([&form] { form = std::make_unique<StartupForm>(); });
    return open(form.get(), application);
}

} // namespace runtime
