// A stand-in for portpanel-helper on a machine without port access: it
// serves the real request loop over a bus of its own (every port latches what
// is written, 0xFF at first). Some ports tell the test about the helper
// itself: 0xFFFF makes it stop answering, 0xFFFE reads how many descriptors
// above 2 it inherited, 0xFFFD reads 1 when it inherited a blocked or ignored
// signal; 0xFFF0 answers after 200 ms; 0xFFF1 closes its socket at 900 ms and
// lingers. Started under a name with "silent" in it, it never greets; with
// "unprivileged" in it, it says the kernel refused it port permission.
#include "Requests.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <unistd.h>

namespace {

std::uint8_t strayDescriptors()
{
    DIR *fds = opendir("/proc/self/fd");
    int count = 0;
    while (const dirent *entry = fds ? readdir(fds) : nullptr)
        count += entry->d_name[0] != '.' && atoi(entry->d_name) > 2;
    if (fds)
        closedir(fds);
    return static_cast<std::uint8_t>(count - 1); // the one opendir holds
}

std::uint8_t inheritedSignalState()
{
    sigset_t blocked;
    sigprocmask(SIG_SETMASK, nullptr, &blocked);
    for (int signal = 1; signal < SIGRTMIN; ++signal) {
        struct sigaction action = {};
        sigaction(signal, nullptr, &action);
        if (sigismember(&blocked, signal) || action.sa_handler == SIG_IGN)
            return 1;
    }
    return 0;
}

struct Bus : helper::Ports {
    std::uint8_t latched[0x10000];
    Bus() { std::ranges::fill(latched, 0xFF); }
    [[nodiscard]] bool allows(std::uint16_t) const override { return true; }
    void out(std::uint16_t port, std::uint8_t value) override { latched[port] = value; }
    std::uint8_t in(std::uint16_t port) override
    {
        if (port == 0xFFFF)
            for (;;)
                pause();
        if (port == 0xFFF0)
            usleep(200'000);
        if (port == 0xFFF1) {
            usleep(900'000);
            close(STDIN_FILENO), close(STDOUT_FILENO), sleep(5);
        }
        return port == 0xFFFE   ? strayDescriptors()
               : port == 0xFFFD ? inheritedSignalState()
                                : latched[port];
    }
};

} // namespace

int main(int, char **argv)
{
    while (std::strstr(argv[0], "silent"))
        pause();
    const bool refused = std::strstr(argv[0], "unprivileged") != nullptr;
    const std::uint8_t greeting[helper::greetingSize] = {
        refused ? helper::NoPermission : helper::Ready,
        static_cast<std::uint8_t>(refused ? EPERM : 0)};
    if (write(STDOUT_FILENO, greeting, sizeof greeting) != sizeof greeting || refused)
        return 1;
    static Bus bus;
    helper::StandardStreams socket;
    return helper::serve(socket, bus) == helper::End::EndOfInput ? 0 : 1;
}
