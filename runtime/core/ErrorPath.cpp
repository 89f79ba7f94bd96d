#include "ErrorPath.h"

#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <optional>

namespace runtime {
namespace {

std::optional<RuntimeError> ending;

bool canShowBox() { return qApp && QGuiApplication::platformName() != QLatin1String("offscreen"); }

} // namespace

void reportAndEnd(const RuntimeError &error)
{
    if (ending)
        return;
    ending = error;
    const std::string line = error.report();
    std::fprintf(stderr, "portpanel: %s\n", line.c_str());
    std::fflush(stderr);
    if (canShowBox())
        QMessageBox::critical(nullptr, QApplication::applicationName(),
                              QString::fromStdString(line));
    QCoreApplication::exit(error.number());
}

const RuntimeError *endingError() { return ending ? &*ending : nullptr; }

void beginRun() { ending.reset(); }

} // namespace runtime
