// The program's own start-up path on the offscreen platform, two Commit
// clicks, then the window closes: what valgrind runs.
#include "Form1.h"

#include <QPushButton>
#include <QTimer>

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    runtime::describeProgram(application);
    panel::Form1 form;
    QTimer::singleShot(0, &form, [&form] {
        form.Command1->click();
        form.Command1->click();
        form.close();
    });
    return runtime::open(&form, application);
}
