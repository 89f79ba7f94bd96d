// One Commit click on an offscreen window, simulated library behind it.
#include "ControlText.h"
#include "Form1.h"

#include <QApplication>
#include <benchmark/benchmark.h>

namespace {

panel::Form1 *form = nullptr;

void commitClick(benchmark::State &state)
{
    runtime::setText(form->valOUT, "200");
    for (auto _ : state)
        form->Command1_Click();
}

BENCHMARK(commitClick);

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    panel::Form1 window;
    window.Form_Load();
    form = &window;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
}
