#pragma once

#include <cstddef>
#include <cstdint>

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

} // namespace helper
