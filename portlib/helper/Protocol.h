#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <unistd.h>

// What the port library and the helper say to each other over a socket.
// The helper first sends a greeting: {Ready, 0}; {NoPermission, errno} when
// it could not take port permission; or {Words, N} and N bytes of text that
// say why it will not serve. Then each request is four bytes, {Out or In,
// port low byte, port high byte, value}, and each is answered with two:
// {Done, the byte read or 0}, or {NotAllowed, 0} for a port it does not serve.
namespace helper {

// What portpanel-run tells the program it starts: "PID/START:FIRST-LAST,...",
// the process that holds port permission for those ranges.
inline constexpr const char *grantedVariable = "PORTPANEL_GRANTED";

// A process as the grant names it, "PID/START", from a line of /proc/PID/stat:
// its start time (clock ticks after boot) tells it from a later process given
// the same pid. Empty for a line that is not one.
inline std::string processIdentity(const std::string &statLine)
{
    const std::size_t afterName = statLine.rfind(") "); // the name may hold both
    const std::size_t space = statLine.find(' ');
    if (afterName == std::string::npos || space == std::string::npos)
        return "";
    std::size_t at = afterName + 2;
    for (int field = 3; field < 22 && at != std::string::npos; ++field) // start time: the 22nd
        at = statLine.find(' ', at) + 1;
    if (at == 0 || at == std::string::npos || at >= statLine.size())
        return "";
    return statLine.substr(0, space) + '/' + statLine.substr(at, statLine.find(' ', at) - at);
}

enum Greeting : std::uint8_t { Ready = 'R', NoPermission = 'P', Words = 'W' };
enum Operation : std::uint8_t { Out = 'O', In = 'I' };
enum Answer : std::uint8_t { Done = 'D', NotAllowed = 'N' };

inline constexpr std::size_t greetingSize = 2;
inline constexpr std::size_t requestSize = 4;
inline constexpr std::size_t answerSize = 2;

// Both ends read whole messages; false at end of input or on an error.
inline bool readAll(int fd, std::uint8_t *bytes, std::size_t size)
{
    for (std::size_t got = 0; got < size;) {
        const ssize_t n = read(fd, bytes + got, size - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        got += static_cast<std::size_t>(n);
    }
    return true;
}

// The helper's greeting when it will not serve, in words of up to 255 bytes.
inline void refuseInWords(int fd, const char *words)
{
    std::uint8_t message[greetingSize + 255] = {Words};
    const std::size_t size = strnlen(words, 255);
    message[1] = static_cast<std::uint8_t>(size);
    std::memcpy(message + greetingSize, words, size);
    (void)!write(fd, message, greetingSize + size);
}

} // namespace helper
