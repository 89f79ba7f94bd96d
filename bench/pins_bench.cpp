// How soon the pins window shows a status change: from the status register's
// new value to the window's status line, over the recording port library whose
// status register follows a file. Prints {"ms": [one per round]}.
#include "ErrorPath.h"
#include "EventDelivery.h"
#include "PinsWindow.h"
#include "QtRuntime.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

// Milliseconds until the status line shows value; negative if it never does.
double shownAfter(const pins::PinsWindow &window, const QString &file, int value)
{
    char shown[16];
    std::snprintf(shown, sizeof shown, ": 0x%02X =", value);
    QElapsedTimer clock;
    clock.start();
    std::ofstream(file.toStdString() + ".new") << value; // whole, as a poll may come at any time
    std::filesystem::rename(file.toStdString() + ".new", file.toStdString());
    while (window.registerLines[1]->text().find(shown) == std::string::npos) {
        if (clock.elapsed() > 10'000)
            return -1;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return static_cast<double>(clock.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 21;
    QTemporaryDir ports;
    const QString status = ports.filePath("889");
    std::ofstream(status.toStdString()) << 0x78;
    qputenv("PORTPANEL_PORT_FOLDER", ports.path().toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    runtime::qt::describeProgram(application);
    runtime::beginRun();
    pins::PinsWindow window;
    runtime::deliver([&window] { window.Form_Load(); });
    runtime::qt::widget(window)->show();
    std::printf("{\"ms\": [");
    for (int round = 0; round < rounds; ++round) {
        const double ms = shownAfter(window, status, round % 2 ? 0x78 : 0xF8);
        if (ms < 0) {
            std::fprintf(stderr, "pins_bench: the status change never showed\n");
            return 1;
        }
        std::printf("%s%.3f", round ? ", " : "", ms);
    }
    std::printf("]}\n");
}
