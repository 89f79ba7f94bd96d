#include "Requests.h"

namespace helper {

End serve(Channel &channel, Ports &ports)
{
    std::uint8_t request[requestSize];
    while (channel.readExactly(request, sizeof request)) {
        const auto port = static_cast<std::uint16_t>(request[1] | request[2] << 8);
        if (request[0] == Out)
            ports.out(port, request[3]);
        else if (request[0] != In || request[3] != 0)
            return End::Malformed;
        else if (!channel.write(ports.in(port)))
            return End::AnswerFailed;
    }
    return End::EndOfInput;
}

} // namespace helper
