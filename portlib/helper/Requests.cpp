#include "Requests.h"

namespace helper {

End serve(Channel &channel, Ports &ports)
{
    std::uint8_t request[requestSize];
    while (channel.readExactly(request, sizeof request)) {
        const auto port = static_cast<std::uint16_t>(request[1] | request[2] << 8);
        const bool out = request[0] == Out;
        if (!out && (request[0] != In || request[3] != 0))
            return End::Malformed;
        std::uint8_t answer[answerSize] = {NotAllowed, 0};
        if (ports.allows(port)) {
            answer[0] = Done;
            if (out)
                ports.out(port, request[3]);
            else
                answer[1] = ports.in(port);
        }
        if (!channel.write(answer))
            return End::AnswerFailed;
    }
    return End::EndOfInput;
}

} // namespace helper
