#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <unistd.h>

// What the port library and the helper say to each other over a socket.
// The helper first sends a greeting: {Ready, 0}, or {NoPermission, errno}
// when it could not take port permission; a child that could not start the
// helper at all sends {NotStarted, errno}. Then each request is four bytes,
// {Out or In, port low byte, port high byte, value}; an In is answered with
// the byte read, an Out with nothing.
namespace helper {

enum Greeting : std::uint8_t { Ready = 'R', NoPermission = 'P', NotStarted = 'E' };
enum Operation : std::uint8_t { Out = 'O', In = 'I' };

inline constexpr std::size_t greetingSize = 2;
inline constexpr std::size_t requestSize = 4;

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

} // namespace helper
