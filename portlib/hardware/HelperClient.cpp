#include "HelperClient.h"
#include "Privilege.h"

#include "../helper/Protocol.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <spawn.h>
#include <sys/auxv.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

namespace helperclient {
namespace {

int sock = -1;
pid_t child = -1;
bool tried = false;
advice::Helper found = advice::Helper::NotRun;
// Never destroyed: a host's global destructor may still call the library.
std::string &refusal = *new std::string;

// Nothing waits on the helper for longer than this: it answers in
// microseconds, so a helper that takes a second is stopped or stuck.
constexpr int answerMs = 1000;
constexpr int greetingMs = 2000; // it starts and reads its policy first

long msLeft(const timespec &deadline)
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (deadline.tv_sec - now.tv_sec) * 1000 + (deadline.tv_nsec - now.tv_nsec) / 1'000'000;
}

timespec inMs(int ms)
{
    timespec time{};
    clock_gettime(CLOCK_MONOTONIC, &time);
    time.tv_sec += ms / 1000 + (time.tv_nsec + ms % 1000 * 1'000'000L) / 1'000'000'000;
    time.tv_nsec = (time.tv_nsec + ms % 1000 * 1'000'000L) % 1'000'000'000;
    return time;
}

// Moves all of bytes one way before the deadline, through signals and short
// counts. Each call on the socket blocks at most a quarter of a second (its
// own timeouts, set at launch), so the deadline is looked at that often; no
// poll is needed, which matters where every system call is slow. False with
// errno set: ETIMEDOUT at the deadline, 0 at end of input.
bool transfer(std::uint8_t *bytes, std::size_t size, bool sending, const timespec &deadline)
{
    for (std::size_t done = 0; done < size;) {
        const ssize_t moved = sending ? send(sock, bytes + done, size - done, MSG_NOSIGNAL)
                                      : recv(sock, bytes + done, size - done, 0);
        const bool again = moved < 0 && (errno == EINTR || errno == EAGAIN);
        if (again && msLeft(deadline) > 0)
            continue;
        if (moved <= 0) {
            errno = again ? ETIMEDOUT : moved == 0 ? 0 : errno;
            return false;
        }
        done += static_cast<std::size_t>(moved);
    }
    return true;
}

std::string greetingMeaning(std::uint8_t code, std::uint8_t argument)
{
    if (code == helper::Words) {
        std::uint8_t words[255];
        return transfer(words, argument, false, inMs(answerMs))
                   ? std::string(reinterpret_cast<const char *>(words), argument)
                   : std::string(path()) + " gave its reason only in part";
    }
    if (code != helper::NoPermission)
        return std::string(path()) + " ended without a word";
    const bool capable = privilege::fileGrantsRawio(path());
    if (argument == EPERM)
        found = capable ? advice::Helper::KernelRefused : advice::Helper::LacksCapability;
    return advice::helperRefused(argument, capable);
}

// The helper gets the socket as its standard input and output and this
// program's standard error, nothing else of it: no other descriptor, no
// blocked or ignored signal.
int spawn(int theirs)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, theirs, STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, theirs, STDOUT_FILENO);
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    const char *file = path();
    char *const argv[] = {const_cast<char *>(file), nullptr};
    char *const envp[] = {nullptr};
    const int error = posix_spawn(&child, file, &actions, &attributes, argv, envp);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return error;
}

pid_t waitFor(int &status, int options)
{
    pid_t ended = 0;
    while ((ended = waitpid(child, &status, options)) < 0 && errno == EINTR) {
    }
    return ended;
}

// Who took the helper's exit status when this library could not.
std::string collectedBy()
{
    struct sigaction action = {};
    sigaction(SIGCHLD, nullptr, &action);
    return action.sa_handler == SIG_IGN || (action.sa_flags & SA_NOCLDWAIT) != 0
               ? "this program ignores SIGCHLD"
               : "another part of this program collected its exit status";
}

std::string reap(const timespec &deadline);

bool launch(std::string &why)
{
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        why = std::string("socketpair: ") + std::strerror(errno);
        return false;
    }
    // Both ends above 2: with the host's standard streams closed, the pair
    // could be 0 and 1, and the helper's end would not survive its exec.
    sock = fcntl(ends[0], F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    const int theirs = fcntl(ends[1], F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    const int dupError = errno;
    close(ends[0]);
    close(ends[1]);
    const timeval quarter{0, 250'000};
    setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &quarter, sizeof quarter);
    setsockopt(sock, SOL_SOCKET, SO_SNDTIMEO, &quarter, sizeof quarter);
    const int error = sock < 0 || theirs < 0 ? dupError : spawn(theirs);
    if (theirs >= 0)
        close(theirs);
    std::uint8_t greeting[helper::greetingSize] = {};
    const bool greeted = error == 0 && transfer(greeting, sizeof greeting, false, inMs(greetingMs));
    found = error == EACCES   ? advice::Helper::NotRun
            : error == ENOENT ? advice::Helper::Missing
                              : advice::Helper::Refused;
    if (greeted && greeting[0] == helper::Ready) {
        found = advice::Helper::Serves;
        return true;
    }
    why = error != 0           ? std::string(path()) + " cannot be run: " + std::strerror(error)
          : greeted            ? greetingMeaning(greeting[0], greeting[1])
          : errno == ETIMEDOUT ? std::string(path()) + " did not greet within two seconds"
                               : std::string(path()) + " ended without a word";
    if (sock >= 0)
        close(sock);
    sock = -1;
    reap(inMs(0));
    return false;
}

// Ends the helper whose socket is closed: one that goes on past the
// deadline is killed. Says how it ended.
std::string reap(const timespec &deadline)
{
    int status = 0;
    pid_t ended = child > 0 ? waitFor(status, WNOHANG) : -1;
    while (ended == 0 && msLeft(deadline) > 0) {
        const timespec hundredth{0, 10'000'000};
        nanosleep(&hundredth, nullptr);
        ended = waitFor(status, WNOHANG);
    }
    if (ended == 0) {
        kill(child, SIGKILL);
        ended = waitFor(status, 0);
    }
    child = -1;
    if (ended < 0 && errno == ECHILD)
        return "how it ended is not known: " + collectedBy();
    if (ended < 0)
        return std::string("waitpid: ") + std::strerror(errno);
    if (WIFSIGNALED(status))
        return "it was ended by signal " + std::to_string(WTERMSIG(status)) + " (" +
               strsignal(WTERMSIG(status)) + ")";
    return "it exited with status " + std::to_string(WEXITSTATUS(status));
}

// The helper has gone: the socket is closed, the helper reaped, and every
// later exchange is refused with the same words.
void gone(const char *exchange, std::uint16_t port, const timespec &deadline, std::string &why)
{
    if (sock >= 0) {
        const int error = errno;
        char what[32];
        std::snprintf(what, sizeof what, "%s at 0x%04X", exchange, port);
        close(sock);
        sock = -1;
        const std::string how = reap(error == ETIMEDOUT ? inMs(0) : deadline);
        refusal = "start " + advice::self() + " again to reach " + advice::portName(port) +
                  " through a new port helper\n  " +
                  (error == ETIMEDOUT
                       ? "the port helper did not answer within a second (" + std::string(what) +
                             "); " + how
                       : std::string("the port helper stopped answering (") + what + ": " +
                             (error ? std::strerror(error) : "end of input") + "; " + how + ")");
    }
    why = refusal;
}

// An exchange left half done (its thread unwound out of it) would leave its
// answer to the next one: the helper is dropped, and the next exchange
// starts another.
class Abandoned {
  public:
    Abandoned() = default;
    Abandoned(const Abandoned &) = delete;
    Abandoned &operator=(const Abandoned &) = delete;
    void finished() { done = true; }
    ~Abandoned()
    {
        if (done || sock < 0)
            return;
        close(sock);
        sock = -1;
        reap(inMs(0));
        tried = false;
    }

  private:
    bool done = false;
};

// One request and its answer, both within the bound, the helper's end included.
bool exchange(helper::Operation operation, std::uint16_t port, std::uint8_t value,
              std::uint8_t &answer, std::string &why)
{
    std::uint8_t request[helper::requestSize] = {operation, static_cast<std::uint8_t>(port),
                                                 static_cast<std::uint8_t>(port >> 8), value};
    std::uint8_t reply[helper::answerSize] = {};
    const timespec deadline = inMs(answerMs);
    if (!start(why))
        return false;
    Abandoned unlessDone;
    const bool answered = transfer(request, sizeof request, true, deadline) &&
                          transfer(reply, sizeof reply, false, deadline);
    unlessDone.finished();
    if (!answered) {
        gone(operation == helper::Out ? "out" : "in", port, deadline, why);
        return false;
    }
    answer = reply[1];
    if (reply[0] == helper::Done)
        return true;
    why = advice::notInPolicy(port, PORTPANEL_POLICY_PATH);
    return false;
}

} // namespace

const char *path()
{
    const char *test = getauxval(AT_SECURE) ? nullptr : std::getenv("PORTPANEL_HELPER");
    return test && *test ? test : PORTPANEL_HELPER_PATH;
}

bool start(std::string &why)
{
    if (!tried) {
        tried = true;
        launch(refusal);
    }
    why = refusal;
    return sock >= 0;
}

advice::Helper standing() { return found; }

void forgetAfterFork()
{
    found = advice::Helper::NotRun;
    if (sock >= 0)
        close(sock);
    sock = -1;
    child = -1;
    tried = false;
    refusal.clear();
}

bool out(std::uint16_t port, std::uint8_t value, std::string &why)
{
    std::uint8_t ignored = 0;
    return exchange(helper::Out, port, value, ignored, why);
}

bool in(std::uint16_t port, std::uint8_t &value, std::string &why)
{
    return exchange(helper::In, port, 0, value, why);
}

} // namespace helperclient
