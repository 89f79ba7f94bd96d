// The program's own start-up path on the offscreen platform, two Commit
// clicks, then the window closes: what valgrind runs.
#include "Form1.h"
#include "QtRuntime.h"

#include <QPushButton>
#include <QTimer>

int main(int argc, char **argv)
{
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
