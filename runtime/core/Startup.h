#pragma once

#include "Controls.h"

#include <functional>
#include <memory>
#include <optional>

namespace runtime {

// Each side of the runtime defines these two.
namespace toolkit {
// What happens before the toolkit loads (--help, --version, and the side's
// own checks): the exit status when the run ends there, else nothing.
std::optional<int> beforeToolkit(int argc, char **argv);
// Starts the toolkit, builds the form, runs its load event, shows it and
// delivers events until it closes. An error before that ends the program
// before anything is shown.
int run(const char *program, const std::function<std::unique_ptr<Form>()> &build);
} // namespace toolkit

// The program: one start-up window, one thread.
inline int start(int argc, char **argv, const std::function<std::unique_ptr<Form>()> &build)
{
    if (const auto status = toolkit::beforeToolkit(argc, argv))
        return *status;
    return toolkit::run(argc > 0 ? argv[0] : "portpanel", build);
}

template <class StartupForm> int start(int argc, char **argv)
{
    return start(argc, argv, [] { return std::make_unique<StartupForm>(); });
}

} // namespace runtime
