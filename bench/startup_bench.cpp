// Start-up of two programs, run alternately: wall time from exec until the
// program maps its first top-level window, and the peak resident memory by
// then. Prints one JSON object with every sample.
// Usage: startup_bench ROUNDS NAME_A PROGRAM_A NAME_B PROGRAM_B
// (a PROGRAM may carry arguments after spaces)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
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
    std::string program;
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
        // "PROGRAM ARGUMENT...", split at spaces: wine and an exe, say.
        std::vector<std::string> words;
        for (std::size_t at = 0, end; at != std::string::npos;
             at = end == std::string::npos ? end : end + 1) {
            end = side.program.find(' ', at);
            words.push_back(side.program.substr(at, end - at));
        }
        std::vector<char *> argv;
        for (std::string &word : words)
            argv.push_back(word.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

bool waitForMap(xcb_connection_t *x)
{
    while (xcb_generic_event_t *event = xcb_wait_for_event(x)) {
        const bool mapped = (event->response_type & 0x7F) == XCB_MAP_NOTIFY;
        std::free(event);
        if (mapped)
            return true;
    }
    return false;
}

void measure(xcb_connection_t *x, Side &side)
{
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = launch(side);
    if (!waitForMap(x)) {
        std::fprintf(stderr, "startup_bench: lost the X server\n");
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
    if (argc != 6) {
        std::fprintf(stderr, "usage: %s ROUNDS NAME_A PROGRAM_A NAME_B PROGRAM_B\n", argv[0]);
        return 2;
    }
    std::vector<Side> sides{{argv[2], argv[3], {}, {}}, {argv[4], argv[5], {}, {}}};
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
