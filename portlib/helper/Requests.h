#pragma once

#include "Protocol.h"

namespace helper {

// Where requests come from and answers go: the socket in the helper, a byte
// buffer in the fuzzer.
struct Channel {
    // False at end of input or on an error, with or without a partial read.
    virtual bool readExactly(std::uint8_t *bytes, std::size_t size) = 0;
    virtual bool write(const std::uint8_t (&answer)[answerSize]) = 0;
};

// The helper's own channel: requests on standard input, answers on standard output.
struct StandardStreams : Channel {
    bool readExactly(std::uint8_t *bytes, std::size_t size) override
    {
        return readAll(STDIN_FILENO, bytes, size);
    }
    bool write(const std::uint8_t (&answer)[answerSize]) override
    {
        return ::write(STDOUT_FILENO, answer, answerSize) == answerSize;
    }
};

struct Ports {
    [[nodiscard]] virtual bool allows(std::uint16_t port) const = 0;
    virtual void out(std::uint16_t port, std::uint8_t value) = 0;
    virtual std::uint8_t in(std::uint16_t port) = 0;
};

enum class End : std::uint8_t { EndOfInput, Malformed, AnswerFailed };

// Serves whole requests until the input ends or one is malformed: every byte
// stream ends here, having made only the valid requests it held, and only on
// ports that ports allows.
End serve(Channel &channel, Ports &ports);

} // namespace helper
