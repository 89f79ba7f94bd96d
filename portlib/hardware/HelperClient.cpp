#include "HelperClient.h"

#include "../helper/Protocol.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sys/auxv.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace helperclient {
namespace {

int sock = -1;
pid_t child = -1;
bool tried = false;
std::string refusal;

bool sendAll(const std::uint8_t *bytes, std::size_t size)
{
    return send(sock, bytes, size, MSG_NOSIGNAL) == static_cast<ssize_t>(size);
}

bool receiveAll(std::uint8_t *bytes, std::size_t size)
{
    return helper::readAll(sock, bytes, size);
}

// The child tells why it could not become the helper in the helper's own words.
[[noreturn]] void becomeHelper(int end)
{
    dup2(end, STDIN_FILENO);
    dup2(end, STDOUT_FILENO);
    const char *file = path();
    char *const argv[] = {const_cast<char *>(file), nullptr};
    char *const envp[] = {nullptr};
    execve(file, argv, envp);
    const std::uint8_t failed[helper::greetingSize] = {helper::NotStarted,
                                                       static_cast<std::uint8_t>(errno)};
    (void)!::write(STDOUT_FILENO, failed, sizeof failed);
    _exit(127);
}

std::string greetingMeaning(const std::uint8_t (&greeting)[helper::greetingSize])
{
    const std::string error = std::strerror(greeting[1]);
    if (greeting[0] == helper::NotStarted)
        return std::string(path()) + " cannot be run: " + error;
    if (greeting[1] == ENOSYS)
        return "the helper finds that this kernel has no user-space port access (ioperm: " + error +
               ")";
    return "the helper could not take port permission (ioperm: " + error + ")";
}

bool launch(std::string &why)
{
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        why = std::string("socketpair: ") + std::strerror(errno);
        return false;
    }
    child = fork();
    if (child == 0)
        becomeHelper(ends[1]);
    close(ends[1]);
    sock = ends[0];
    std::uint8_t greeting[helper::greetingSize] = {};
    if (child < 0 || !receiveAll(greeting, sizeof greeting) || greeting[0] != helper::Ready) {
        why = child < 0     ? std::string("fork: ") + std::strerror(errno)
              : greeting[0] ? greetingMeaning(greeting)
                            : std::string(path()) + " ended without a word";
        close(sock);
        sock = -1;
        if (child > 0)
            waitpid(child, nullptr, 0);
        child = -1;
        return false;
    }
    return true;
}

// Waits up to a second for the helper to end once its socket is closed, then
// ends it; says how it ended.
std::string reap()
{
    int status = 0;
    pid_t ended = 0;
    for (int tries = 0; tries < 100 && (ended = waitpid(child, &status, WNOHANG)) == 0; ++tries) {
        const timespec tenth{0, 10'000'000};
        nanosleep(&tenth, nullptr);
    }
    if (ended == 0) {
        kill(child, SIGKILL);
        ended = waitpid(child, &status, 0);
    }
    child = -1;
    if (ended < 0)
        return std::string("waitpid: ") + std::strerror(errno);
    if (WIFSIGNALED(status))
        return "it was ended by signal " + std::to_string(WTERMSIG(status)) + " (" +
               strsignal(WTERMSIG(status)) + ")";
    return "it exited with status " + std::to_string(WEXITSTATUS(status));
}

// The helper has gone: the socket is closed, the helper reaped, and every
// later exchange is refused with the same words.
void gone(const char *exchange, std::string &why)
{
    if (sock >= 0) {
        const std::string error = errno ? std::strerror(errno) : "end of input";
        close(sock);
        sock = -1;
        refusal = std::string("the port helper stopped answering (") + exchange + ": " + error +
                  "; " + reap() + "); start portpanel again";
    }
    why = refusal;
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

bool out(std::uint16_t port, std::uint8_t value, std::string &why)
{
    const std::uint8_t request[helper::requestSize] = {helper::Out, static_cast<std::uint8_t>(port),
                                                       static_cast<std::uint8_t>(port >> 8), value};
    errno = 0;
    if (sock >= 0 && sendAll(request, sizeof request))
        return true;
    gone("out", why);
    return false;
}

bool in(std::uint16_t port, std::uint8_t &value, std::string &why)
{
    const std::uint8_t request[helper::requestSize] = {helper::In, static_cast<std::uint8_t>(port),
                                                       static_cast<std::uint8_t>(port >> 8), 0};
    errno = 0;
    if (sock >= 0 && sendAll(request, sizeof request) && receiveAll(&value, 1))
        return true;
    gone("in", why);
    return false;
}

} // namespace helperclient
