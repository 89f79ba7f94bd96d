// Start-up of two programs, run alternately: wall time from exec until the
// program maps its first top-level window, and the peak resident memory by
// then. Prints one JSON object with every sample.
// Usage: startup_bench ROUNDS NAME_A PROGRAM_A [ARGUMENT...] -- NAME_B PROGRAM_B [ARGUMENT...]
// (each word one argument, never split: a path may hold spaces)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>
#include <xcb/xcb.h>

namespace {

struct Side {
    std::string name;
    std::vector<char *> command; // null-terminated
    std::vector<double> milliseconds;
    std::vector<long> peakKilobytes;
};

pid_t launch(const Side &side)
{
    const pid_t pid = fork();
    if (pid == 0) {
        const int devNull = open("/dev/null", O_WRONLY);
        dup2(devNull, STDOUT_FILENO);
        dup2(devNull, STDERR_FILENO);
        execv(side.command[0], side.command.data());
        _exit(127);
    }
    return pid;
}

// False when no window is mapped within 30 s (the program did not start).
bool waitForMap(xcb_connection_t *x)
{
    pollfd ready{xcb_get_file_descriptor(x), POLLIN, 0};
    for (;;) {
        xcb_generic_event_t *event = xcb_poll_for_event(x);
        if (!event && (xcb_connection_has_error(x) || poll(&ready, 1, 30'000) != 1))
            return false;
        const bool mapped = event && (event->response_type & 0x7F) == XCB_MAP_NOTIFY;
        std::free(event);
        if (mapped)
            return true;
    }
}

void measure(xcb_connection_t *x, Side &side)
{
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = launch(side);
    if (!waitForMap(x)) {
        std::fprintf(stderr, "startup_bench: %s showed no window within 30 s\n", side.command[0]);
        std::exit(1);
    }
    const auto shown = std::chrono::steady_clock::now();
    kill(pid, SIGKILL);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    side.milliseconds.push_back(std::chrono::duration<double, std::milli>(shown - start).count());
    side.peakKilobytes.push_back(usage.ru_maxrss);
}

void print(const Side &side, bool last)
{
    std::printf("  \"%s\": {\"ms\": [", side.name.c_str());
    for (std::size_t i = 0; i < side.milliseconds.size(); ++i)
        std::printf("%s%.3f", i ? ", " : "", side.milliseconds[i]);
    std::printf("], \"peak_kb\": [");
    for (std::size_t i = 0; i < side.peakKilobytes.size(); ++i)
        std::printf("%s%ld", i ? ", " : "", side.peakKilobytes[i]);
    std::printf("]}%s\n", last ? "" : ",");
}

} // namespace

int main(int argc, char **argv)
{
    std::vector<Side> sides(1);
    for (int i = 2; i < argc; ++i) {
        Side &side = sides.back();
        if (std::string(argv[i]) == "--")
            sides.emplace_back();
        else if (side.name.empty())
            side.name = argv[i];
        else
            side.command.push_back(argv[i]);
    }
    for (Side &side : sides)
        side.command.push_back(nullptr);
    if (sides.size() != 2 || sides[0].command.size() < 2 || sides[1].command.size() < 2) {
        std::fprintf(stderr,
                     "usage: %s ROUNDS NAME_A PROGRAM_A [ARGUMENT...] -- NAME_B PROGRAM_B\n",
                     argv[0]);
        return 2;
    }
    xcb_connection_t *x = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(x))
        return std::fprintf(stderr, "startup_bench: no X server\n"), 1;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(x)).data->root;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(x, root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(x);

    const int rounds = std::atoi(argv[1]);
    for (int round = 0; round < rounds; ++round)
        for (std::size_t i = 0; i < sides.size(); ++i) // alternate which goes first
            measure(x, sides[(i + round) % sides.size()]);
    std::printf("{\n");
    for (std::size_t i = 0; i < sides.size(); ++i)
        print(sides[i], i + 1 == sides.size());
    std::printf("}\n");
    xcb_disconnect(x);
}
