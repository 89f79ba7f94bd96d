// The program's own start-up path on the offscreen platform, two Commit
// clicks, then the window closes: what valgrind runs. Built with
// PLANTED_LEAK it also loses a block that panel/StatusLine.cpp allocated.
#include "Form1.h"
#include "QtRuntime.h"
#include "StatusLine.h"

#include <QPushButton>
#include <QTimer>

#include <cstring>
#include <new>

int main(int argc, char **argv)
{
#ifdef PLANTED_LEAK
    // The string's only pointer to its heap text is wiped, never freed.
    alignas(std::string) static unsigned char lost[sizeof(std::string)];
    new (lost) std::string(panel::statusLine("a long address text", 0));
    std::memset(lost, 0, sizeof lost);
#endif
    QApplication application(argc, argv);
    runtime::qt::describeProgram(application);
    panel::Form1 form;
    QWidget *window = runtime::qt::widget(form);
    auto *button = qobject_cast<QPushButton *>(runtime::qt::widget(form.Command1));
    QTimer::singleShot(0, window, [window, button] {
        button->click();
        button->click();
        window->close();
    });
    return runtime::qt::open(form, application);
}
